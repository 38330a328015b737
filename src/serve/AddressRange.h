// --allow CIDR: an IPv4 or IPv6 prefix ("192.0.2.0/24", "2001:db8::/32",
// a bare address for one host), and the 16-byte client key every address
// is compared by. IPv4 addresses live in the IPv4-mapped IPv6 range, so a
// client seen on a dual-stack socket (::ffff:192.0.2.7) and on an IPv4
// socket is the same client and matches the same IPv4 ranges. The text is
// read by hand: pure, and the same on every system.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "net/SocketAddress.h"

namespace tarnwick::serve {

using AddressBytes = std::array<std::uint8_t, 16>;

// The address of a record as a key (IPv4 mapped); all zero for an empty one.
AddressBytes AddressKey(const SocketAddress& address);

struct AddressRange {
  AddressBytes prefix{};
  unsigned bits = 0;  // of the 128
  bool Contains(const AddressBytes& address) const;
};

// nullopt for anything but an address with an optional /length in range.
std::optional<AddressRange> ParseAddressRange(std::string_view text);

}  // namespace tarnwick::serve
