#include "cli/ProgressLine.h"

#include <cmath>
#include <cstdio>

namespace tarnwick::cli {

std::string FormatBytes(std::uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

namespace {

std::string FormatDuration(double seconds) {
  if (!(seconds >= 0) || seconds > 359999.0) return "--:--";
  auto whole = static_cast<unsigned long>(std::ceil(seconds));
  char text[32];
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", whole / 3600, whole / 60 % 60, whole % 60);
  else
    std::snprintf(text, sizeof text, "%lu:%02lu", whole / 60, whole % 60);
  return text;
}

}  // namespace

std::string FormatProgressLine(std::uint64_t bytes, std::optional<std::uint64_t> total, double elapsedSeconds) {
  const bool timed = elapsedSeconds > 0.0;
  const double rate = timed ? static_cast<double>(bytes) / elapsedSeconds : 0.0;
  const std::string rateText = timed ? FormatBytes(static_cast<std::uint64_t>(rate)) + "/s" : "-- B/s";
  if (!total) return FormatBytes(bytes) + "  " + rateText;

  // A server may send more than it announced; the bar stays full then.
  const std::uint64_t shown = bytes < *total ? bytes : *total;
  const double fraction = *total == 0 ? 1.0 : static_cast<double>(shown) / static_cast<double>(*total);
  constexpr int kBarWidth = 16;
  const int filled = static_cast<int>(fraction * kBarWidth);
  std::string line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] ";
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100.0));
  line += percent;
  line += "  " + FormatBytes(bytes) + " / " + FormatBytes(*total) + "  " + rateText + "  ";
  const std::uint64_t remaining = *total - shown;
  const double left = remaining == 0 ? 0.0 : rate > 0.0 ? static_cast<double>(remaining) / rate : -1.0;
  line += FormatDuration(left) + " left";
  return line;
}

ProgressMeter::ProgressMeter(std::ostream& out, bool enabled, Clock::time_point start)
    : out_(out), enabled_(enabled), start_(start) {}

void ProgressMeter::Update(std::uint64_t bytes, std::optional<std::uint64_t> total, Clock::time_point now) {
  if (!enabled_) return;
  if (lastDrawn_ && now - *lastDrawn_ < std::chrono::milliseconds(100)) return;
  lastDrawn_ = now;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  std::string line = FormatProgressLine(bytes, total, elapsed);
  // Pad over the tail of a longer previous line instead of relying on a
  // terminal escape sequence.
  std::string padded = line;
  if (padded.size() < width_) padded.append(width_ - padded.size(), ' ');
  width_ = line.size();
  out_ << '\r' << padded << std::flush;
  ++drawings_;
}

void ProgressMeter::Clear() {
  if (!enabled_ || drawings_ == 0 || width_ == 0) return;
  out_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
  width_ = 0;
}

}  // namespace tarnwick::cli
