// What a test does when something it needs from the machine is missing: a
// server program (danted, tinyproxy, openssl, in.tftpd), root, an IPv6
// loopback, a device file. On a developer's machine without it the test
// skips and says why; where TARNWICK_REQUIRE_PEERS=1 (the project's test
// command sets it) the machine is meant to have everything, and a missing
// peer fails the test instead of letting the run report green.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace tarnwick::test {

// The variable's value as the test command sets it: exactly "1" demands
// every peer; unset, empty or anything else allows skips.
inline bool PeersRequiredBy(const char* value) { return value != nullptr && std::string(value) == "1"; }

inline bool PeersRequired() { return PeersRequiredBy(std::getenv("TARNWICK_REQUIRE_PEERS")); }

}  // namespace tarnwick::test

// Ends the current test (or set-up) because `what` is missing: a skip, or a
// fatal failure when peers are required. Usable wherever GTEST_SKIP is.
#define TARNWICK_MISSING_PEER(what)                                                          \
  do {                                                                                       \
    const std::string tarnwick_missing_peer_ = (what);                                       \
    if (::tarnwick::test::PeersRequired()) {                                                 \
      GTEST_FAIL() << "missing peer (TARNWICK_REQUIRE_PEERS=1): " << tarnwick_missing_peer_; \
    }                                                                                        \
    GTEST_SKIP() << tarnwick_missing_peer_;                                                  \
  } while (false)
