// An IPv4 or IPv6 address and port as plain bytes, so the relay's tables and
// queues are portable code that compares and stores endpoints without
// touching a socket structure.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <tuple>

namespace tarnwick::impair {

struct Endpoint {
  int family = 4;                          // 4 or 6
  std::array<std::uint8_t, 16> address{};  // IPv4 uses the first 4 bytes
  std::uint16_t port = 0;

  bool operator==(const Endpoint& o) const {
    return family == o.family && address == o.address && port == o.port;
  }
  bool operator!=(const Endpoint& o) const { return !(*this == o); }
  bool operator<(const Endpoint& o) const {
    return std::tie(family, address, port) < std::tie(o.family, o.address, o.port);
  }
};

// "127.0.0.1:69", "[::1]:69", "::1:69" is not accepted (brackets are).
// False when the text is not a numeric address with a port.
bool ParseEndpoint(const std::string& text, Endpoint& out);
std::string EndpointText(const Endpoint& e);

}  // namespace tarnwick::impair
