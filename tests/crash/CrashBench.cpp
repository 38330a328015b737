// Benchmarks of the report path's heavy parts, for the worst cases the
// formats allow: a line-table stream just below 64 KiB searched from its
// start for every address of a full call stack, and the log rules over a
// large log. Prints timings; asserts nothing.
//
//   crash_bench [repetitions]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "crash/CrashLog.h"
#include "crash/CrashOptions.h"
#include "crash/LineTable.h"
#include "crash/StackScan.h"
#include "crash/StackTable.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace tarnwick;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::vector<std::uint8_t> LargestTables(std::uint32_t& lastAddress) {
  // Units of 200 one-byte steps until the stream nearly fills 64 KiB.
  std::vector<LineModule> modules = {{"Tarnwick.exe", {}}};
  std::uint32_t start = 0;
  for (int i = 0;; ++i) {
    LineUnit unit{"Unit" + std::to_string(i) + ".cpp", 1, start, std::vector<LineStep>(200, LineStep{1, 4})};
    modules[0].units.push_back(unit);
    if (EncodeLineTables(modules).size() >= kLineTableLimit - 1) {
      modules[0].units.pop_back();
      break;
    }
    start += 200 * 4 + 16;
  }
  lastAddress = 0x400000 + kLineTableCodeOffset + start - 16 - 2;
  return EncodeLineTables(modules);
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::atoi(argv[1]) : 5;
  std::uint32_t last = 0;
  const std::vector<std::uint8_t> tables = LargestTables(last);
  const auto base = [](int, const std::string&) { return std::optional<std::uint32_t>(0x400000); };

  auto t0 = Clock::now();
  int found = 0;
  for (int r = 0; r < repetitions * 100; ++r)
    found += LookupLine(tables.data(), tables.size(), last, base) ? 1 : 0;
  const double lookup = Millis(Clock::now() - t0) / (repetitions * 100);
  std::printf("lookup, last address of a %zu-byte stream: %.3f ms (%d found)\n", tables.size(), lookup,
              found);

  // A full stack of 1999 addresses, all resolving near the end of the stream.
  const std::vector<std::uint32_t> stack(kCallStackLimit, last);
  StackTableLayout layout;
  t0 = Clock::now();
  std::size_t chars = 0;
  for (int r = 0; r < repetitions; ++r)
    chars +=
        FormatStackTable(
            stack, [&](std::uint32_t a) { return LookupLine(tables.data(), tables.size(), a, base); }, layout)
            .size();
  std::printf("stack table of %zu addresses: %.1f ms (%zu chars)\n", stack.size(),
              Millis(Clock::now() - t0) / repetitions, chars / static_cast<std::size_t>(repetitions));

  // Log rules over a log of 20000 stored entries, the new one not a repeat.
  std::string log;
  const std::string table = FormatStackTable(
      {1},
      [](std::uint32_t) {
        return std::optional<TInfoLine>(TInfoLine{0, "T.exe", "MainBox.cpp", 10});
      },
      layout);
  for (int i = 0; i < 20000; ++i) log += "HOST\r\nVersion Number   : ----\r\n" + table + "\r\n";
  const std::string other = FormatStackTable(
      {1},
      [](std::uint32_t) {
        return std::optional<TInfoLine>(TInfoLine{0, "T.exe", "Other.cpp", 11});
      },
      layout);
  CrashOptions o = TarnwickCrashOptions();
  t0 = Clock::now();
  std::size_t size = 0;
  for (int r = 0; r < repetitions; ++r) size += UpdateLog(log, "entry\r\n", other, "----", o).content.size();
  std::printf("log rules over %zu bytes (20000 entries): %.1f ms\n", log.size(),
              Millis(Clock::now() - t0) / repetitions);
  return size > 0 ? 0 : 1;
}
