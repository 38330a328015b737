#include "serve/AddressRange.h"

#include <cstring>
#include <vector>

namespace tarnwick::serve {

namespace {

constexpr std::uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four decimal parts of 0..255 without leading zeros (so "010" is not read
// as octal by one tool and decimal by another).
bool ParseIPv4(std::string_view text, std::uint8_t* out) {
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (text.empty() || text[0] != '.') return false;
      text.remove_prefix(1);
    }
    std::size_t digits = 0;
    unsigned value = 0;
    while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9')
      value = value * 10 + static_cast<unsigned>(text[digits++] - '0');
    if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[0] == '0')) return false;
    out[part] = static_cast<std::uint8_t>(value);
    text.remove_prefix(digits);
  }
  return text.empty();
}

bool ParseIPv6(std::string_view text, std::uint8_t* out) {
  std::vector<std::uint16_t> head, tail;
  bool gap = false;
  std::vector<std::uint16_t>* groups = &head;
  if (text.substr(0, 2) == "::") {
    gap = true;
    groups = &tail;
    text.remove_prefix(2);
  }
  std::uint8_t v4[4];
  bool haveV4 = false;
  while (!text.empty()) {
    const std::size_t end = text.find(':');
    const std::string_view group = text.substr(0, end);
    if (end == std::string_view::npos && group.find('.') != std::string_view::npos) {
      if (!ParseIPv4(group, v4)) return false;
      haveV4 = true;
      text = {};
      break;
    }
    if (group.empty() || group.size() > 4) return false;
    unsigned value = 0;
    for (char c : group) {
      if (HexValue(c) < 0) return false;
      value = value * 16 + static_cast<unsigned>(HexValue(c));
    }
    groups->push_back(static_cast<std::uint16_t>(value));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
    if (!text.empty() && text[0] == ':') {
      if (gap) return false;
      gap = true;
      groups = &tail;
      text.remove_prefix(1);
    } else if (text.empty()) {
      return false;  // a single trailing ':'
    }
  }
  const std::size_t count = head.size() + tail.size() + (haveV4 ? 2 : 0);
  if (gap ? count > 7 : count != 8) return false;
  std::memset(out, 0, 16);
  for (std::size_t i = 0; i < head.size(); ++i) {
    out[2 * i] = static_cast<std::uint8_t>(head[i] >> 8);
    out[2 * i + 1] = static_cast<std::uint8_t>(head[i]);
  }
  const std::size_t tailStart = 16 - 2 * tail.size() - (haveV4 ? 4 : 0);
  for (std::size_t i = 0; i < tail.size(); ++i) {
    out[tailStart + 2 * i] = static_cast<std::uint8_t>(tail[i] >> 8);
    out[tailStart + 2 * i + 1] = static_cast<std::uint8_t>(tail[i]);
  }
  if (haveV4) std::memcpy(out + 12, v4, 4);
  return true;
}

}  // namespace

AddressBytes AddressKey(const SocketAddress& address) {
  AddressBytes key{};
  if (address.family == kFamilyIPv4) {
    std::memcpy(key.data(), kMapped, 12);
    std::memcpy(key.data() + 12, address.IPv4Bytes(), 4);
  } else if (address.family == kFamilyIPv6) {
    std::memcpy(key.data(), address.IPv6Bytes(), 16);
  }
  return key;
}

bool AddressRange::Contains(const AddressBytes& address) const {
  const unsigned whole = bits / 8, rest = bits % 8;
  if (std::memcmp(address.data(), prefix.data(), whole) != 0) return false;
  if (rest == 0) return true;
  const auto mask = static_cast<std::uint8_t>(0xff << (8 - rest));
  return (address[whole] & mask) == (prefix[whole] & mask);
}

std::optional<AddressRange> ParseAddressRange(std::string_view text) {
  AddressRange range;
  std::string_view address = text.substr(0, text.find('/'));
  const bool v4 = address.find(':') == std::string_view::npos;
  unsigned most = v4 ? 32 : 128;
  range.bits = most;
  if (address.size() < text.size()) {
    const std::string_view length = text.substr(address.size() + 1);
    if (length.empty() || length.size() > 3 || (length.size() > 1 && length[0] == '0')) return std::nullopt;
    unsigned value = 0;
    for (char c : length) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > most) return std::nullopt;
    range.bits = value;
  }
  if (v4) {
    std::memcpy(range.prefix.data(), kMapped, 12);
    if (!ParseIPv4(address, range.prefix.data() + 12)) return std::nullopt;
    range.bits += 96;
  } else if (!ParseIPv6(address, range.prefix.data())) {
    return std::nullopt;
  }
  // Bits past the length are cleared, so "10.1.2.3/8" is the range 10.0.0.0/8.
  for (unsigned bit = range.bits; bit < 128; ++bit)
    range.prefix[bit / 8] = static_cast<std::uint8_t>(range.prefix[bit / 8] & ~(0x80u >> (bit % 8)));
  return range;
}

}  // namespace tarnwick::serve
