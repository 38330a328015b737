// Building line tables from printed DWARF rows, and the list of the
// reporter's own units kept in step with its folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "crash/LineTableBuilder.h"
#include "crash/ReporterUnits.h"
#include "crash/StackTable.h"

namespace tarnwick {
namespace {

constexpr std::uint32_t kImageBase = 0x400000;

const char kDump[] =
    "\n"
    "Tarnwick.exe:     file format pei-i386\n"
    "\n"
    "Contents of the .debug_line section:\n"
    "\n"
    "CU: /src/app/MainBox.cpp:\n"
    "File name                            Line number    Starting address    View    Stmt\n"
    "vector                                       100            0x401000               x\n"
    "\n"
    "/src/app/MainBox.cpp:\n"
    "MainBox.cpp                                   20            0x401010               x\n"
    "MainBox.cpp                                   21            0x401014       1       x\n"
    "MainBox.cpp                                   22            0x401014       2\n"
    "MainBox.cpp                                   19            0x401020\n"
    "\n"
    "/usr/include/c++/12/bits/stl_vector.h:\n"
    "stl_vector.h                                 900            0x401030               x\n"
    "\n"
    "/src/app/MainBox.cpp:\n"
    "MainBox.cpp                                   30            0x401040               x\n"
    "MainBox.cpp                                   30            0x401044\n"
    "MainBox.cpp                                    -            0x401050\n"
    "\n"
    "/src/app/Other.cpp:\n"
    "Other.cpp                                     40            0x401050               x\n"
    "\n"
    "/usr/include/c++/12/bits/stl_vector.h:\n"
    "stl_vector.h                                 901            0x401058               x\n"
    "\n"
    "/src/app/Third.cpp:\n"
    "Third.cpp                                      3            0x401060               x\n"
    "Third.cpp                                      -            0x401070\n"
    "\n"
    "CU: /src/app/Other File.cpp:\n"
    "Other File.cpp                                 5            0x401070               x\n"
    "garbage line\n";

TEST(LineTableBuilderTest, ParsesRowsAndTheirPaths) {
  std::istringstream in(kDump);
  const auto rows = ParseDecodedLines(in);
  ASSERT_EQ(rows.size(), 13u);
  EXPECT_EQ(rows[0].file, "vector");
  EXPECT_EQ(rows[0].path, "");  // printed under another file's heading
  EXPECT_EQ(rows[1].path, "/src/app/MainBox.cpp");
  EXPECT_EQ(rows[1].line, 20);
  EXPECT_EQ(rows[1].address, 0x401010u);
  EXPECT_EQ(rows[5].path, "/usr/include/c++/12/bits/stl_vector.h");
  EXPECT_TRUE(rows[8].endOfSequence);
  EXPECT_EQ(rows[8].address, 0x401050u);
}

TEST(LineTableBuilderTest, UnitsResolveLikeTheRowsSay) {
  std::istringstream in(kDump);
  const auto units = BuildLineUnits(ParseDecodedLines(in), kImageBase, "/src/");
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(units[0].name, "MainBox.cpp");
  EXPECT_EQ(units[0].start, 0x10u);
  // 20, 22, 19, 30 and the closing step: the repeated 30 adds none.
  EXPECT_EQ(units[0].steps.size(), 4u);
  EXPECT_EQ(units[1].name, "Other.cpp");
  EXPECT_EQ(units[2].name, "Third.cpp");

  const auto stream = EncodeLineTables({{"Tarnwick.exe", units}});
  const auto line = [&](std::uint32_t address) -> int {
    const auto info = LookupLine(stream.data(), stream.size(), address, [](int, const std::string&) {
      return std::optional<std::uint32_t>(kImageBase);
    });
    return info ? info->line : -1;
  };
  // 0x401014 has two rows: the last holds. 0x401030 is library code inlined
  // between our rows: it counts as the line before. 0x401058 is library code
  // before another file: not ours.
  struct Case {
    std::uint32_t address;
    int line;
  } cases[] = {
      {0x401000, -1}, {0x40100F, -1}, {0x401010, 20}, {0x401013, 20}, {0x401014, 22},
      {0x40101F, 22}, {0x401020, 19}, {0x40102F, 19}, {0x401030, 19}, {0x40103F, 19},
      {0x401040, 30}, {0x401044, 30}, {0x40104F, 30}, {0x401050, 40}, {0x401057, 40},
      {0x401058, -1}, {0x40105F, -1}, {0x401060, 3},  {0x40106F, 3},  {0x401070, -1},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.address);
    EXPECT_EQ(line(c.address), c.line);
  }
}

TEST(LineTableBuilderTest, AddressesBelowTheCodeAreLeftOut) {
  std::istringstream in("/src/a.cpp:\na.cpp 1 0x400010\na.cpp 2 0x400020\n");
  EXPECT_TRUE(BuildLineUnits(ParseDecodedLines(in), kImageBase, "/src/").empty());
}

TEST(LineTableBuilderTest, FittingLeavesOutHeadersFirstThenTheLargest) {
  const auto unit = [](const std::string& name, std::size_t steps) {
    return LineUnit{name, 1, 0, std::vector<LineStep>(steps, LineStep{1, 1})};
  };
  const std::vector<LineUnit> all = {unit("a.cpp", 10), unit("big.cpp", 300), unit("b.h", 5),
                                     unit("c.cpp", 20), unit("d.hpp", 8)};
  const std::size_t full = EncodeLineTables({{"T.exe", all}}).size();
  struct Case {
    std::size_t limit;
    std::vector<std::string> kept;
  } cases[] = {
      {full + 1, {"a.cpp", "big.cpp", "b.h", "c.cpp", "d.hpp"}},
      {full, {"a.cpp", "big.cpp", "b.h", "c.cpp"}},  // the larger header goes first
      {full - 30, {"a.cpp", "big.cpp", "c.cpp"}},    // then the other header
      {full - 60, {"a.cpp", "c.cpp"}},               // then the largest unit
      {1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    std::vector<LineUnit> units = all;
    const std::size_t dropped = FitLineUnits("T.exe", units, c.limit);
    std::vector<std::string> kept;
    for (const LineUnit& u : units) kept.push_back(u.name);
    EXPECT_EQ(kept, c.kept);
    EXPECT_EQ(dropped, all.size() - kept.size());
    // The module record itself cannot be left out.
    if (!units.empty()) {
      EXPECT_LT(EncodeLineTables({{"T.exe", units}}).size(), c.limit);
    }
  }
}

TEST(ReporterUnitsTest, ListsEveryFileOfTheReporter) {
  const auto units = ReporterUnits();
  for (const auto& entry : std::filesystem::directory_iterator(TARNWICK_CRASH_SOURCE_DIR)) {
    const std::string name = UpperCase(entry.path().filename().string());
    if (name == "CMAKELISTS.TXT") continue;
    EXPECT_NE(std::find(units.begin(), units.end(), name), units.end()) << name;
  }
}

}  // namespace
}  // namespace tarnwick
