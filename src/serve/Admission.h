// Whether a request at the listening port starts a transfer: the --allow
// list, the duplicate rule (a request re-sent from the same address and
// port while its transfer runs belongs to that transfer), a token bucket per
// source address against request floods, and the --max-transfers and
// --per-client limits. Pure: the caller passes the time, in milliseconds of
// any steady clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "net/SocketAddress.h"
#include "serve/AddressRange.h"
#include "serve/Refusal.h"

namespace tarnwick::serve {

struct AdmissionLimits {
  std::vector<AddressRange> allow;  // empty: every address
  std::size_t maxTransfers = 1000;
  std::size_t perClient = 8;
  std::uint32_t requestsPerSecond = 20;  // per source address; 0: no limit
  std::uint32_t burst = 40;
  std::size_t trackedSources = 4096;  // buckets kept; the idlest go first
};

enum class Admit : std::uint8_t { Start, Duplicate, NotAllowed, RateLimited, Busy, ClientBusy };

// What the client is told: nothing (to a stranger, a flood or a duplicate,
// whose own transfer answers it) or an ERROR with a code and the reason.
struct AdmitAnswer {
  bool answer = false;
  Refusal refusal;
};
AdmitAnswer AnswerFor(Admit verdict);

class Admission {
 public:
  explicit Admission(AdmissionLimits limits) : limits_(std::move(limits)) {}

  // Start: the transfer is counted as running from now until Finished(from).
  Admit Consider(const SocketAddress& from, std::uint64_t nowMs);
  void Finished(const SocketAddress& from);
  std::size_t Running() const { return running_.size(); }
  std::size_t TrackedSources() const { return buckets_.size(); }

 private:
  using Endpoint = std::pair<AddressBytes, std::uint16_t>;
  struct Bucket {
    std::uint64_t milliTokens = 0;
    std::uint64_t lastMs = 0;
  };
  bool TakeToken(const AddressBytes& source, std::uint64_t nowMs);
  std::uint64_t Refilled(const Bucket& bucket, std::uint64_t nowMs) const;
  void MakeRoomForBucket(std::uint64_t nowMs);

  AdmissionLimits limits_;
  std::map<Endpoint, std::size_t> running_;  // value unused: one transfer per endpoint
  std::map<AddressBytes, std::size_t> perClient_;
  std::map<AddressBytes, Bucket> buckets_;
};

}  // namespace tarnwick::serve
