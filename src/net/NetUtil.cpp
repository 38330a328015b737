#include "net/NetUtil.h"

#include <chrono>

namespace tarnwick {

std::uint32_t CurrentTick() {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

std::uint32_t TickSpan(std::uint32_t earlier, std::uint32_t later) {
  if (earlier <= later) return later - earlier;
  const std::uint32_t top = 0x80000000u;
  // Shifting both by half the range turns a genuine wrap into an ordinary
  // forward distance and leaves a plain "later is earlier" case backwards.
  std::uint32_t a = earlier + top;
  std::uint32_t b = later + top;
  return a <= b ? b - a : a - b;
}

std::string EncodeWord(std::uint16_t value) {
  std::string out(2, '\0');
  out[0] = static_cast<char>(value >> 8);
  out[1] = static_cast<char>(value & 0xFF);
  return out;
}

std::uint16_t DecodeWord(const std::string& bytes, std::size_t position) {
  if (position < 1 || bytes.size() < position + 1) return 0;
  auto hi = static_cast<unsigned char>(bytes[position - 1]);
  auto lo = static_cast<unsigned char>(bytes[position]);
  return static_cast<std::uint16_t>(hi * 256 + lo);
}

namespace {

// Blanks and control characters are trimmed alike.
bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string Trim(const std::string& text) {
  std::size_t first = 0, last = text.size();
  while (first < last && IsTrimmed(text[first])) ++first;
  while (last > first && IsTrimmed(text[last - 1])) --last;
  return text.substr(first, last - first);
}

bool IsByteNumber(const std::string& text) {
  if (text.empty()) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > 255) return false;  // also stops long digit runs from overflowing
  }
  return true;
}

bool IsHexGroup(const std::string& text) {
  if (text.empty()) return false;
  unsigned value = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    value = value * 16 + digit;
    if (value > 0xFFFF) return false;
  }
  return true;
}

}  // namespace

std::string TextBefore(const std::string& text, const std::string& delimiter) {
  auto at = delimiter.empty() ? std::string::npos : text.find(delimiter);
  return Trim(at == std::string::npos ? text : text.substr(0, at));
}

std::string TextAfter(const std::string& text, const std::string& delimiter) {
  auto at = delimiter.empty() ? std::string::npos : text.find(delimiter);
  return Trim(at == std::string::npos ? text : text.substr(at + delimiter.size()));
}

std::string TakeField(std::string& text, const std::string& delimiter) {
  std::string field = TextBefore(text, delimiter);
  std::string rest = TextAfter(text, delimiter);
  text = (rest != text) ? rest : std::string();
  return field;
}

bool IsIPv4Literal(const std::string& text) {
  std::string copy = text;
  for (int i = 0; i < 3; ++i) {
    if (!IsByteNumber(TakeField(copy, "."))) return false;
  }
  return IsByteNumber(Trim(copy));
}

bool IsIPv6Literal(const std::string& text) {
  std::string copy = text;
  int groups = 0;
  int emptyGroups = 0;
  while (!copy.empty()) {
    std::string group = TakeField(copy, ":");
    if (group.empty() && groups > 0) {
      if (++emptyGroups > 1) return false;
    }
    ++groups;
    if (groups > 8) return false;
    if (group.empty()) continue;
    if (copy.empty()) {
      // Only the last group may carry a zone ("fe80::1%4").
      auto percent = group.find('%');
      if (percent != std::string::npos) {
        if (!IsHexGroup(group.substr(percent + 1))) return false;
        group = group.substr(0, percent);
      }
    }
    if (!IsHexGroup(group)) return false;
    if (copy.empty()) return true;
  }
  return false;
}

std::string IPv4ToBytes(const std::string& dotted) {
  std::string copy = dotted;
  std::string out;
  for (int i = 0; i < 4; ++i) {
    std::string field = i < 3 ? TakeField(copy, ".") : Trim(copy);
    unsigned value = 0;
    for (char c : field) {
      if (c < '0' || c > '9') break;
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (value > 255) break;
    }
    out.push_back(static_cast<char>(value & 0xFF));
  }
  return out;
}

std::size_t FindLineEnd(const std::string& text, std::string& lineEnd) {
  static const char* const kinds[] = {"\r\n", "\n\r", "\r", "\n"};
  std::size_t best = std::string::npos;
  lineEnd.clear();
  for (const char* kind : kinds) {
    auto at = text.find(kind);
    // Strictly earlier only: at a tie the kind searched first stays.
    if (at != std::string::npos && (best == std::string::npos || at < best)) {
      best = at;
      lineEnd = kind;
    }
  }
  return best == std::string::npos ? 0 : best + 1;
}

std::string Base64Encode(const std::string& bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
  std::string out;
  out.reserve(4 * ((bytes.size() + 2) / 3));
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                      (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                      static_cast<unsigned char>(bytes[i + 2]);
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    out += alphabet[v & 63];
  }
  std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += rest == 2 ? alphabet[(v >> 6) & 63] : alphabet[64];
    out += alphabet[64];
  }
  return out;
}

}  // namespace tarnwick
