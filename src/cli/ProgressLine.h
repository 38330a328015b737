// The one-line progress display of tarnwick-cli on a terminal: the text is
// a pure function of bytes, size and time, and the meter only decides when to
// draw it again (at most ten times a second) and wipes it before the work-log
// lines go on.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace tarnwick::cli {

// "1.5 KiB", "12.0 MiB", "900 B": binary units, one decimal from KiB up.
std::string FormatBytes(std::uint64_t bytes);

// One line without line break, at most 79 columns:
//   [######----------]  42%  1.2 MiB / 2.9 MiB  512.0 KiB/s  0:03 left
// or, size unknown:  1.2 MiB  512.0 KiB/s
// Rate and time left show as "--" until time has passed.
std::string FormatProgressLine(std::uint64_t bytes, std::optional<std::uint64_t> total, double elapsedSeconds);

class ProgressMeter {
 public:
  using Clock = std::chrono::steady_clock;
  ProgressMeter(std::ostream& out, bool enabled, Clock::time_point start);

  // Draws when the last drawing is 100 ms old (or on the first call).
  void Update(std::uint64_t bytes, std::optional<std::uint64_t> total, Clock::time_point now);
  // Wipes the line, so the next text starts in the first column.
  void Clear();
  int Drawings() const { return drawings_; }

 private:
  std::ostream& out_;
  bool enabled_;
  Clock::time_point start_;
  std::optional<Clock::time_point> lastDrawn_;
  std::size_t width_ = 0;
  int drawings_ = 0;
};

}  // namespace tarnwick::cli
