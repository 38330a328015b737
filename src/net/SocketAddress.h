// The 28-byte socket address record passed around by every socket class.
// Its layout is the Windows one on every platform (family numbers 2 and 23);
// the POSIX back end translates it to the native sockaddr at each call.
#pragma once

#include <cstdint>
#include <cstring>

namespace tarnwick {

constexpr std::uint16_t kFamilyUnspecified = 0;
constexpr std::uint16_t kFamilyIPv4 = 2;
constexpr std::uint16_t kFamilyIPv6 = 23;

struct SocketAddress {
  std::uint16_t family;   // 0 = empty record
  std::uint16_t port;     // network order, same place in both layouts
  std::uint8_t rest[24];  // IPv4: address + 8 zero bytes; IPv6: flow, address, scope

  // IPv4 view: the 4 address bytes in network order.
  std::uint8_t* IPv4Bytes() { return rest; }
  const std::uint8_t* IPv4Bytes() const { return rest; }
  // IPv6 view.
  std::uint8_t* IPv6Bytes() { return rest + 4; }
  const std::uint8_t* IPv6Bytes() const { return rest + 4; }

  void Clear() { std::memset(this, 0, sizeof(*this)); }
};
static_assert(sizeof(SocketAddress) == 28, "the address record is 28 bytes");

// 16 for an IPv4 record, 28 for IPv6, 0 for anything else (empty included).
inline int SocketAddressLength(const SocketAddress& address) {
  if (address.family == kFamilyIPv4) return 16;
  if (address.family == kFamilyIPv6) return 28;
  return 0;
}

}  // namespace tarnwick
