#include "Endpoint.h"

#include <cstdio>
#include <cstdlib>

namespace tarnwick::impair {

namespace {

bool ParsePort(const std::string& text, std::uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

bool ParseIPv4(const std::string& text, Endpoint& out) {
  int part = 0;
  unsigned value = 0;
  int digits = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      if (digits == 0 || value > 255 || part > 3) return false;
      out.address[static_cast<std::size_t>(part++)] = static_cast<std::uint8_t>(value);
      value = 0;
      digits = 0;
    } else if (text[i] >= '0' && text[i] <= '9' && digits < 3) {
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
      ++digits;
    } else {
      return false;
    }
  }
  return part == 4;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Groups of hex digits with at most one "::"; no embedded IPv4 form (a test
// tool's addresses are loopback ones).
bool ParseIPv6(const std::string& text, Endpoint& out) {
  std::array<std::uint16_t, 8> head{}, tail{};
  int heads = 0, tails = 0;
  bool gap = false;
  std::size_t i = 0;
  if (text.compare(0, 2, "::") == 0) {
    gap = true;
    i = 2;
  }
  while (i < text.size()) {
    unsigned value = 0;
    int digits = 0;
    while (i < text.size() && HexDigit(text[i]) >= 0 && digits < 4) {
      value = value * 16 + static_cast<unsigned>(HexDigit(text[i++]));
      ++digits;
    }
    if (digits == 0) return false;
    if (gap) {
      if (tails == 8) return false;
      tail[static_cast<std::size_t>(tails++)] = static_cast<std::uint16_t>(value);
    } else {
      if (heads == 8) return false;
      head[static_cast<std::size_t>(heads++)] = static_cast<std::uint16_t>(value);
    }
    if (i == text.size()) break;
    if (text[i] != ':') return false;
    if (i + 1 < text.size() && text[i + 1] == ':') {
      if (gap) return false;
      gap = true;
      i += 2;
    } else {
      ++i;
      if (i == text.size()) return false;
    }
  }
  if (gap ? heads + tails > 7 : heads != 8) return false;
  std::array<std::uint16_t, 8> groups{};
  for (int g = 0; g < heads; ++g) groups[static_cast<std::size_t>(g)] = head[static_cast<std::size_t>(g)];
  for (int g = 0; g < tails; ++g)
    groups[static_cast<std::size_t>(8 - tails + g)] = tail[static_cast<std::size_t>(g)];
  for (std::size_t g = 0; g < 8; ++g) {
    out.address[2 * g] = static_cast<std::uint8_t>(groups[g] >> 8);
    out.address[2 * g + 1] = static_cast<std::uint8_t>(groups[g] & 0xff);
  }
  return true;
}

}  // namespace

bool ParseEndpoint(const std::string& text, Endpoint& out) {
  Endpoint e;
  if (!text.empty() && text[0] == '[') {
    std::size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
    e.family = 6;
    if (!ParseIPv6(text.substr(1, close - 1), e) || !ParsePort(text.substr(close + 2), e.port)) return false;
  } else {
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    e.family = 4;
    if (!ParseIPv4(text.substr(0, colon), e) || !ParsePort(text.substr(colon + 1), e.port)) return false;
  }
  out = e;
  return true;
}

std::string EndpointText(const Endpoint& e) {
  char text[64];
  if (e.family == 4) {
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", e.address[0], e.address[1], e.address[2], e.address[3],
                  e.port);
    return text;
  }
  std::string s = "[";
  for (std::size_t g = 0; g < 8; ++g) {
    std::snprintf(text, sizeof text, "%s%x", g ? ":" : "", (e.address[2 * g] << 8) | e.address[2 * g + 1]);
    s += text;
  }
  return s + "]:" + std::to_string(e.port);
}

}  // namespace tarnwick::impair
