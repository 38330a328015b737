// How long a transfer waits for an answer before it sends again, learnt from
// the round trips it measures (RFC 6298, as TCP does): a smoothed mean and
// mean deviation of the samples, time-out = mean + 4 x deviation, kept above
// a floor of a few milliseconds plus the clock's granularity and below the
// back-off cap. Each time-out in a row doubles the wait (up to the cap),
// and a sender's third leaves the peer quiet for longer (see
// QuietAfterRepeats); progress brings it back to the estimate.
//
// Until the first sample the wait is the first wait the user chose: the
// request's answer can take long while the device opens its file, so that
// exchange teaches nothing about the path and is not sampled.
//
// Karn's rule is the caller's part: only an answer to a datagram sent once
// may become a sample (an answer to a repeated one cannot be matched to
// either copy).
#pragma once

#include <chrono>
#include <cstdint>

namespace tarnwick::tftp {

class RetransmitTimer {
 public:
  using Duration = std::chrono::steady_clock::duration;

  // The waits are rounded to whole milliseconds by the driver's poll.
  static constexpr Duration kClockGranularity = std::chrono::milliseconds(1);
  static constexpr Duration kFloor = std::chrono::milliseconds(4) + kClockGranularity;
  // With QuietAfterRepeats, time-outs in a row after which the wait is at
  // least twice the first wait (and doubles from there).
  static constexpr int kBackOffsBeforeQuiet = 3;

  RetransmitTimer(Duration firstWait, Duration cap);

  // One round trip measured from a datagram sent once to its answer.
  void Sample(Duration roundTrip);
  // A time-out fired: the next wait doubles (up to the cap). A sample
  // brings it back to the estimate.
  void BackOff();
  // An answer moved the transfer on. Before any sample the wait goes back
  // to the first one. After, it stays doubled until a new sample: the
  // answer may be to a repeated datagram, which teaches nothing, and going
  // back to a too short estimate would time out on every later datagram
  // (Karn's algorithm).
  void Progress();
  // For a sender of DATA. Some servers answer one repeat of a block and
  // after that only their own timer, which every further repeat restarts:
  // repeats a few milliseconds apart then hold the answer back until the
  // doubled estimate outgrows that timer, seconds per lost answer. After
  // kBackOffsBeforeQuiet unanswered time-outs (rare from loss alone) the
  // peer is left quiet: the first wait stands for its timer (a second on
  // both sides by default), twice it lets that timer fire once, where
  // waiting it exactly would race a repeat against it. A get keeps the
  // plain doubling: its quick repeated ACKs were not seen to stall a
  // server, and a quiet wait there was not shown to help.
  void QuietAfterRepeats();
  // The peer's own retransmission timer, when it is known (a timeout
  // option it agreed to that we asked for only to learn it): the quiet
  // wait is then twice that timer instead of twice our first wait.
  // Samples still count, unlike Fix.
  void PeerTimer(Duration timer);
  // A fixed wait (a timeout option the server agreed to): samples are then
  // ignored, back-off still applies.
  void Fix(Duration wait);

  // Kept up to date by the calls above: asked on every block.
  Duration Wait() const { return wait_; }
  bool Estimated() const { return samples_ > 0 && !fixed_; }
  Duration SmoothedRoundTrip() const { return smoothed_; }

 private:
  Duration first_;        // the first wait the user chose
  Duration peerTimer_{};  // zero while unknown
  Duration base_;         // the first wait, or the fixed one
  Duration cap_;
  Duration smoothed_{};
  Duration deviation_{};
  std::uint64_t samples_ = 0;
  int backOffs_ = 0;
  bool fixed_ = false;
  bool quiet_ = false;
  Duration wait_;

  void Update();
};

}  // namespace tarnwick::tftp
