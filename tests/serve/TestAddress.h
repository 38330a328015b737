// An address record of either family from its text, for the pure tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "serve/AddressRange.h"

namespace tarnwick::serve {

inline SocketAddress Addr(const char* text, std::uint16_t port = 1) {
  SocketAddress a{};
  const auto range = ParseAddressRange(text);
  EXPECT_TRUE(range) << text;
  const bool v4 = std::strchr(text, ':') == nullptr;
  a.family = v4 ? kFamilyIPv4 : kFamilyIPv6;
  a.port = port;
  if (range)
    std::memcpy(v4 ? a.IPv4Bytes() : a.IPv6Bytes(), range->prefix.data() + (v4 ? 12 : 0), v4 ? 4 : 16);
  return a;
}

}  // namespace tarnwick::serve
