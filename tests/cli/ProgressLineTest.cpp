// The progress line as text, and how often the meter draws it.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/ProgressLine.h"

namespace tarnwick::cli {
namespace {

TEST(ProgressLine, Bytes) {
  EXPECT_EQ(FormatBytes(0), "0 B");
  EXPECT_EQ(FormatBytes(1023), "1023 B");
  EXPECT_EQ(FormatBytes(1024), "1.0 KiB");
  EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
  EXPECT_EQ(FormatBytes(5ull << 20), "5.0 MiB");
  EXPECT_EQ(FormatBytes(6ull << 30), "6.0 GiB");  // past 4 GiB
}

TEST(ProgressLine, Table) {
  struct Row {
    std::uint64_t bytes;
    std::optional<std::uint64_t> total;
    double seconds;
    std::string expected;
  };
  const Row rows[] = {
      {0, std::nullopt, 0.0, "0 B  -- B/s"},
      {2048, std::nullopt, 2.0, "2.0 KiB  1.0 KiB/s"},
      {0, 1024, 0.0, "[----------------]   0%  0 B / 1.0 KiB  -- B/s  --:-- left"},
      {512, 1024, 0.0, "[########--------]  50%  512 B / 1.0 KiB  -- B/s  --:-- left"},
      {512, 1024, 1.0, "[########--------]  50%  512 B / 1.0 KiB  512 B/s  0:01 left"},
      {1024, 1024, 2.0, "[################] 100%  1.0 KiB / 1.0 KiB  512 B/s  0:00 left"},
      {0, 0, 1.0, "[################] 100%  0 B / 0 B  0 B/s  0:00 left"},
      // More than announced: the bar stays full, bytes still count.
      {2048, 1024, 1.0, "[################] 100%  2.0 KiB / 1.0 KiB  2.0 KiB/s  0:00 left"},
      {1 << 20, 3601ull << 20, 1.0, "[----------------]   0%  1.0 MiB / 3.5 GiB  1.0 MiB/s  1:00:00 left"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.expected);
    std::string line = FormatProgressLine(r.bytes, r.total, r.seconds);
    EXPECT_EQ(line, r.expected);
    EXPECT_LE(line.size(), 79u);
  }
}

TEST(ProgressLine, WidestLineFitsAConsole) {
  std::string line = FormatProgressLine(1000ull << 20, 1023ull << 20, 1e6);
  EXPECT_LE(line.size(), 79u) << line;
}

TEST(ProgressMeter, DrawsAtMostTenTimesASecondAndWipesItsLine) {
  std::ostringstream out;
  const auto start = ProgressMeter::Clock::time_point{} + std::chrono::hours(1);
  ProgressMeter meter(out, true, start);
  for (int ms = 0; ms <= 1000; ms += 10) meter.Update(ms * 10, 10000, start + std::chrono::milliseconds(ms));
  EXPECT_EQ(meter.Drawings(), 11);
  meter.Clear();
  const std::string text = out.str();
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text.back(), '\r');

  std::ostringstream silent;
  ProgressMeter off(silent, false, start);
  off.Update(1, 2, start);
  off.Clear();
  EXPECT_EQ(silent.str(), "");
}

}  // namespace
}  // namespace tarnwick::cli
