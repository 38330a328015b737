// Why the server turns a request down: the TFTP error code the client is
// sent and the reason written to the transfer log (which may say more than
// the client is told).
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace tarnwick::serve {

// RFC 1350 error codes (and 8 from RFC 2347).
enum TftpErrorCode : std::uint16_t {
  kErrorNotDefined = 0,
  kErrorNotFound = 1,
  kErrorAccess = 2,
  kErrorDiskFull = 3,
  kErrorIllegal = 4,
  kErrorUnknownTid = 5,
  kErrorExists = 6,
  kErrorNoUser = 7,
  kErrorOptions = 8,
};

struct Refusal {
  std::uint16_t code = kErrorNotDefined;
  std::string reason;  // empty: nothing refused
  bool Refused() const { return !reason.empty(); }
};

inline Refusal Refuse(std::uint16_t code, std::string reason) { return Refusal{code, std::move(reason)}; }

// The text the client is sent for a code: fixed words, so a client learns
// nothing about the tree beyond what the code says.
const char* ClientText(std::uint16_t code);

}  // namespace tarnwick::serve
