#include "serve/Admission.h"

#include <algorithm>

namespace tarnwick::serve {

AdmitAnswer AnswerFor(Admit verdict) {
  switch (verdict) {
    case Admit::Start:
      return {};
    case Admit::Duplicate:
      return {false, Refuse(kErrorNotDefined, "request repeated while its transfer runs")};
    case Admit::NotAllowed:
      return {false, Refuse(kErrorAccess, "address not in the --allow list")};
    case Admit::RateLimited:
      return {false, Refuse(kErrorNotDefined, "too many requests from this address")};
    case Admit::Busy:
      return {true, Refuse(kErrorNotDefined, "server busy: --max-transfers reached")};
    case Admit::ClientBusy:
      return {true, Refuse(kErrorNotDefined, "too many transfers for this client: --per-client reached")};
  }
  return {};
}

Admit Admission::Consider(const SocketAddress& from, std::uint64_t nowMs) {
  const AddressBytes address = AddressKey(from);
  if (!limits_.allow.empty() &&
      std::none_of(limits_.allow.begin(), limits_.allow.end(),
                   [&](const AddressRange& range) { return range.Contains(address); }))
    return Admit::NotAllowed;
  // Checked before the rate: a device repeating its request because our
  // first answer was lost must never be counted as flooding.
  const Endpoint endpoint{address, from.port};
  if (running_.count(endpoint)) return Admit::Duplicate;
  if (!TakeToken(address, nowMs)) return Admit::RateLimited;
  if (running_.size() >= limits_.maxTransfers) return Admit::Busy;
  std::size_t& mine = perClient_[address];
  if (mine >= limits_.perClient) {
    if (mine == 0) perClient_.erase(address);
    return Admit::ClientBusy;
  }
  ++mine;
  running_.emplace(endpoint, 0);
  return Admit::Start;
}

void Admission::Finished(const SocketAddress& from) {
  const AddressBytes address = AddressKey(from);
  if (running_.erase(Endpoint{address, from.port}) == 0) return;
  auto it = perClient_.find(address);
  if (it != perClient_.end() && --it->second == 0) perClient_.erase(it);
}

std::uint64_t Admission::Refilled(const Bucket& bucket, std::uint64_t nowMs) const {
  const std::uint64_t full = std::uint64_t{limits_.burst} * 1000;
  const std::uint64_t elapsed = nowMs > bucket.lastMs ? nowMs - bucket.lastMs : 0;
  // Past the time that fills the bucket the product could only overflow.
  if (bucket.milliTokens >= full || elapsed > (full - bucket.milliTokens) / limits_.requestsPerSecond)
    return full;
  return std::min(full, bucket.milliTokens + elapsed * limits_.requestsPerSecond);
}

void Admission::MakeRoomForBucket(std::uint64_t nowMs) {
  const std::uint64_t full = std::uint64_t{limits_.burst} * 1000;
  // A full bucket is no different from none.
  for (auto it = buckets_.begin(); it != buckets_.end();)
    it = Refilled(it->second, nowMs) >= full ? buckets_.erase(it) : std::next(it);
  if (buckets_.size() < limits_.trackedSources || buckets_.empty()) return;
  auto idlest = std::min_element(buckets_.begin(), buckets_.end(), [](const auto& a, const auto& b) {
    return a.second.lastMs < b.second.lastMs;
  });
  buckets_.erase(idlest);
}

bool Admission::TakeToken(const AddressBytes& source, std::uint64_t nowMs) {
  if (limits_.requestsPerSecond == 0) return true;
  auto it = buckets_.find(source);
  if (it == buckets_.end()) {
    if (buckets_.size() >= limits_.trackedSources) MakeRoomForBucket(nowMs);
    it = buckets_.emplace(source, Bucket{std::uint64_t{limits_.burst} * 1000, nowMs}).first;
  }
  Bucket& bucket = it->second;
  bucket.milliTokens = Refilled(bucket, nowMs);
  bucket.lastMs = std::max(bucket.lastMs, nowMs);
  if (bucket.milliTokens < 1000) return false;
  bucket.milliTokens -= 1000;
  return true;
}

}  // namespace tarnwick::serve
