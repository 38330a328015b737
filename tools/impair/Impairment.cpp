#include "Impairment.h"

namespace tarnwick::impair {

std::uint64_t Rng::Next() {
  std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

double Rng::Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }

std::uint64_t Rng::Below(std::uint64_t n) { return n == 0 ? 0 : Next() % n; }

Fate Decide(const DirectionSettings& settings, Rng& rng) {
  const double lossDraw = rng.Unit();
  const double duplicateDraw = rng.Unit();
  const double reorderDraw = rng.Unit();
  const std::uint64_t jitterDraw = rng.Next();
  Fate fate;
  fate.lost = lossDraw < settings.loss;
  fate.duplicated = !fate.lost && duplicateDraw < settings.duplicate;
  fate.held = !fate.lost && reorderDraw < settings.reorder;
  fate.delayMs = settings.delayMs;
  if (settings.jitterMs > 0)
    fate.delayMs += static_cast<std::uint32_t>(jitterDraw % (std::uint64_t{settings.jitterMs} + 1));
  return fate;
}

Impairer::Impairer(DirectionSettings settings, std::uint64_t seed, std::size_t capacity)
    : settings_(settings), rng_(seed), capacity_(capacity == 0 ? 1 : capacity) {}

void Impairer::Enqueue(const Datagram& datagram, const Fate& fate, std::uint64_t nowMs) {
  const int copies = fate.duplicated ? 2 : 1;
  for (int i = 0; i < copies; ++i) {
    if (Queued() >= capacity_) {
      ++stats_.overflow;
      continue;
    }
    queue_.emplace(std::make_pair(nowMs + fate.delayMs, sequence_++), datagram);
  }
}

void Impairer::ReleaseHeld(std::uint64_t nowMs) {
  Held held = std::move(*held_);
  held_.reset();
  Enqueue(held.datagram, held.fate, nowMs);
}

void Impairer::Submit(Datagram datagram, std::uint64_t nowMs) {
  ++stats_.received;
  const Fate fate = Decide(settings_, rng_);
  if (fate.lost) {
    ++stats_.lost;
    return;
  }
  if (fate.duplicated) ++stats_.duplicated;
  if (held_) {
    // This one overtakes the held datagram; it is never held itself, so a
    // reorder rate of 1 swaps neighbours instead of stalling the stream.
    Enqueue(datagram, fate, nowMs);
    if (++held_->overtaken >= settings_.reorderDepth) ReleaseHeld(nowMs);
    return;
  }
  if (fate.held && Queued() < capacity_) {
    ++stats_.held;
    held_ = Held{std::move(datagram), fate, nowMs, 0};
    return;
  }
  Enqueue(datagram, fate, nowMs);
}

std::optional<Datagram> Impairer::PopDue(std::uint64_t nowMs) {
  if (held_ && nowMs >= held_->since + settings_.holdMaxMs) ReleaseHeld(nowMs);
  if (queue_.empty() || queue_.begin()->first.first > nowMs) return std::nullopt;
  auto first = queue_.begin();
  Datagram datagram = std::move(first->second);
  queue_.erase(first);
  ++stats_.sent;
  return datagram;
}

std::optional<std::uint64_t> Impairer::NextDue() const {
  std::optional<std::uint64_t> due;
  if (!queue_.empty()) due = queue_.begin()->first.first;
  if (held_) {
    const std::uint64_t release = held_->since + settings_.holdMaxMs;
    if (!due || release < *due) due = release;
  }
  return due;
}

}  // namespace tarnwick::impair
