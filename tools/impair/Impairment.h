// What the relay does to the datagrams of one direction: loss, a fixed delay
// plus jitter, duplication and reordering, every decision drawn from a seeded
// generator of its own so a run can be repeated exactly. Pure code over a
// millisecond clock the caller supplies, so tests drive it without sockets
// or sleeping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "Endpoint.h"

namespace tarnwick::impair {

// splitmix64: small, fast, and the same sequence on every platform and
// standard library (std::rand and the <random> distributions are not).
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next();
  double Unit();                         // [0, 1)
  std::uint64_t Below(std::uint64_t n);  // [0, n), 0 when n is 0

 private:
  std::uint64_t state_;
};

struct DirectionSettings {
  double loss = 0;       // probability a datagram is dropped
  double duplicate = 0;  // probability it is sent twice
  double reorder = 0;    // probability it is held back behind later ones
  std::uint32_t delayMs = 0;
  std::uint32_t jitterMs = 0;      // extra 0..jitterMs, uniform (may reorder on its own)
  std::uint32_t reorderDepth = 1;  // how many later datagrams overtake a held one
  std::uint32_t holdMaxMs = 200;   // a held datagram goes anyway after this long
};

// The fate of one datagram. Every datagram consumes the same number of draws,
// so the loss pattern does not shift when, say, the duplication rate changes.
struct Fate {
  bool lost = false;
  bool duplicated = false;
  bool held = false;
  std::uint32_t delayMs = 0;
};
Fate Decide(const DirectionSettings& settings, Rng& rng);

// One datagram to send: from the relay's socket `via` to `to`.
struct Datagram {
  std::uint32_t via = 0;
  Endpoint to;
  std::string bytes;
};

struct DirectionStats {
  std::uint64_t received = 0, lost = 0, duplicated = 0, held = 0, overflow = 0, sent = 0;
};

// The impairment pipeline of one direction: Decide, then hold back, then
// delay. At most `capacity` datagrams are queued or held at once; beyond that
// a datagram is dropped and counted as overflow, so memory stays bounded
// whatever the peers send.
class Impairer {
 public:
  Impairer(DirectionSettings settings, std::uint64_t seed, std::size_t capacity);

  void Submit(Datagram datagram, std::uint64_t nowMs);
  // The next datagram due at nowMs, in due order (ties in arrival order).
  std::optional<Datagram> PopDue(std::uint64_t nowMs);
  // When PopDue next has something (a queued datagram or the end of a hold).
  std::optional<std::uint64_t> NextDue() const;
  std::size_t Queued() const { return queue_.size() + (held_ ? 1 : 0); }
  const DirectionStats& Stats() const { return stats_; }

 private:
  struct Held {
    Datagram datagram;
    Fate fate;
    std::uint64_t since = 0;
    std::uint32_t overtaken = 0;
  };
  void Enqueue(const Datagram& datagram, const Fate& fate, std::uint64_t nowMs);
  void ReleaseHeld(std::uint64_t nowMs);

  DirectionSettings settings_;
  Rng rng_;
  std::size_t capacity_;
  std::uint64_t sequence_ = 0;
  std::map<std::pair<std::uint64_t, std::uint64_t>, Datagram> queue_;  // (due, sequence)
  std::optional<Held> held_;
  DirectionStats stats_;
};

}  // namespace tarnwick::impair
