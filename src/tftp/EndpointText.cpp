// Dotted IPv4 and RFC 5952 IPv6 (lower-case hex, the longest run of zero
// groups shortened to "::"), each with its port.
#include "tftp/EndpointText.h"

#include <cstdint>
#include <cstdio>

namespace tarnwick::tftp {

namespace {

std::uint16_t HostPort(const SocketAddress& address) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&address.port);
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::string IPv6Text(const std::uint8_t* bytes) {
  std::uint16_t group[8];
  for (int i = 0; i < 8; ++i) group[i] = static_cast<std::uint16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
  int bestStart = -1, bestLength = 0;
  for (int i = 0; i < 8;) {
    if (group[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && group[j] == 0) ++j;
    if (j - i > bestLength && j - i >= 2) {
      bestStart = i;
      bestLength = j - i;
    }
    i = j;
  }
  std::string text;
  char piece[8];
  for (int i = 0; i < 8; ++i) {
    if (i == bestStart) {
      text += "::";
      i += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    std::snprintf(piece, sizeof piece, "%x", group[i]);
    text += piece;
  }
  return text;
}

}  // namespace

std::string AddressText(const SocketAddress& address) {
  if (address.family == kFamilyIPv4) {
    char text[16];
    const std::uint8_t* b = address.IPv4Bytes();
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
  }
  if (address.family == kFamilyIPv6) return IPv6Text(address.IPv6Bytes());
  return "(no address)";
}

std::string EndpointText(const SocketAddress& address) {
  const std::string port = std::to_string(HostPort(address));
  if (address.family == kFamilyIPv4) return AddressText(address) + ":" + port;
  if (address.family == kFamilyIPv6) return "[" + AddressText(address) + "]:" + port;
  return "(no address)";
}

}  // namespace tarnwick::tftp
