#include "tftp/RetransmitTimer.h"

#include <algorithm>

namespace tarnwick::tftp {

RetransmitTimer::RetransmitTimer(Duration firstWait, Duration cap)
    : first_(firstWait), base_(firstWait), cap_(std::max(cap, firstWait)), wait_(firstWait) {}

void RetransmitTimer::Sample(Duration roundTrip) {
  if (fixed_) return;
  roundTrip = std::max(roundTrip, Duration::zero());
  backOffs_ = 0;
  if (samples_++ == 0) {
    smoothed_ = roundTrip;
    deviation_ = roundTrip / 2;
    return Update();
  }
  // The RFC's gains: 1/4 for the deviation (updated first, from the old
  // mean) and 1/8 for the mean.
  const Duration error = roundTrip > smoothed_ ? roundTrip - smoothed_ : smoothed_ - roundTrip;
  deviation_ = (3 * deviation_ + error) / 4;
  smoothed_ = (7 * smoothed_ + roundTrip) / 8;
  Update();
}

void RetransmitTimer::Progress() {
  if (Estimated() || backOffs_ == 0) return;
  backOffs_ = 0;
  Update();
}

void RetransmitTimer::BackOff() {
  // Past the cap more doubling changes nothing; stop counting before the
  // shift below could overflow.
  if (backOffs_ < 30) ++backOffs_;
  Update();
}

void RetransmitTimer::QuietAfterRepeats() {
  quiet_ = true;
  Update();
}

void RetransmitTimer::PeerTimer(Duration timer) {
  peerTimer_ = timer;
  Update();
}

void RetransmitTimer::Fix(Duration wait) {
  fixed_ = true;
  base_ = wait;
  cap_ = std::max(cap_, wait);
  Update();
}

void RetransmitTimer::Update() {
  Duration wait = base_;
  if (Estimated()) {
    wait = smoothed_ + std::max(kClockGranularity, 4 * deviation_);
    wait = std::clamp(wait, kFloor, cap_);
  }
  for (int i = 0; i < backOffs_ && wait < cap_; ++i) wait *= 2;
  if (quiet_ && backOffs_ >= kBackOffsBeforeQuiet) {
    Duration quiet = 2 * (peerTimer_ > Duration::zero() ? peerTimer_ : first_);
    for (int i = kBackOffsBeforeQuiet; i < backOffs_ && quiet < cap_; ++i) quiet *= 2;
    wait = std::max(wait, quiet);
  }
  wait_ = std::min(wait, cap_);
}

}  // namespace tarnwick::tftp
