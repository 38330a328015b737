// The stack table: exact widths with every column combination, centred
// headers, hidden and unresolved rows, collapsed repeats.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "crash/StackTable.h"

namespace tarnwick {
namespace {

std::vector<std::string> Lines(const std::string& table) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t at = table.find("\r\n"); at != std::string::npos; at = table.find("\r\n", from)) {
    lines.push_back(table.substr(from, at - from));
    from = at + 2;
  }
  EXPECT_EQ(from, table.size()) << "table must end with CR LF";
  return lines;
}

TEST(StackTableCellTest, CutsAndPads) {
  EXPECT_EQ(LeftCell("ab", 4), "|ab  ");
  EXPECT_EQ(LeftCell("abcdef", 4), "|abcd");
  EXPECT_EQ(LeftCell("", 2), "|  ");
  EXPECT_EQ(RightCell("42", 6), "|    42");
  EXPECT_EQ(RightCell("1234567", 6), "|123456");
  EXPECT_EQ(CentredCell("Line", 6), "| Line ");
  EXPECT_EQ(CentredCell("Address", 7), "|Address");
  EXPECT_EQ(CentredCell("Addr", 7), "| Addr  ");
  EXPECT_EQ(CentredCell("A", 6), "|   A  ");
  EXPECT_EQ(CentredCell("", 3),
            "| "
            "  ");
}

TEST(StackTableTest, HeaderWithNeitherAddressNorModule) {
  StackTableLayout layout;
  EXPECT_EQ(layout.UnitWidth(), 51u);
  EXPECT_EQ(StackTableHeader(layout), "|Unit" + std::string(47, ' ') + "| Line |\r\n");
}

TEST(StackTableTest, EveryLineIsSixtyWideInEveryLayout) {
  const std::map<std::uint32_t, TInfoLine> known = {
      {0x401000, {0, "Tarnwick.exe", "MainBox.cpp", 120}},
      {0x401010, {1, "AVeryLongModuleNameThatIsCut.dll", std::string(70, 'u') + ".cpp", 65535}},
  };
  const LineResolver resolve = [&](std::uint32_t a) -> std::optional<TInfoLine> {
    auto it = known.find(a);
    return it == known.end() ? std::nullopt : std::optional<TInfoLine>(it->second);
  };
  for (int mask = 0; mask < 8; ++mask) {
    StackTableLayout layout;
    layout.showAddress = mask & 1;
    layout.showModule = mask & 2;
    layout.showRowsWithoutLineInfo = mask & 4;
    SCOPED_TRACE(mask);
    EXPECT_EQ(layout.UnitWidth(), 51u - (layout.showAddress ? 8 : 0) - (layout.showModule ? 19 : 0));
    const auto lines = Lines(FormatStackTable({0x401000, 0x401010, 0x12345678}, resolve, layout));
    ASSERT_EQ(lines.size(), 4u + 2u + (layout.showRowsWithoutLineInfo ? 1u : 0u));
    for (const auto& line : lines) EXPECT_EQ(line.size(), 60u) << line;
    EXPECT_EQ(lines[0], std::string(60, '-'));
    EXPECT_EQ(lines.back(), std::string(60, '-'));
    const std::string& row = lines[3];
    EXPECT_EQ(row.substr(row.size() - 8), "|   120|");
    if (layout.showAddress) {
      EXPECT_EQ(row.substr(0, 9), "|0401000|");
      EXPECT_EQ(lines[1].substr(0, 9), "|Address|");
    }
    if (layout.showModule) {
      EXPECT_NE(lines[4].find("|AVeryLongModuleNam|"), std::string::npos);
    }
    if (layout.showRowsWithoutLineInfo) {
      EXPECT_EQ(lines[5].substr(lines[5].size() - 8), "|      |");
    }
  }
}

TEST(StackTableTest, HiddenUnitsAndRepeatsLeaveNoRow) {
  const LineResolver resolve = [](std::uint32_t a) -> std::optional<TInfoLine> {
    switch (a) {
      case 1:
        return TInfoLine{0, "T.exe", "CrashReport_win.cpp", 10};
      case 2:
      case 3:
        return TInfoLine{0, "T.exe", "MainBox.cpp", 77};
      case 4:
        return TInfoLine{0, "T.exe", "MainBox.cpp", 78};
      case 5:
        return TInfoLine{1, "x.dll", "CrashReport_win.cpp", 10};  // not the program's own module
      default:
        return std::nullopt;
    }
  };
  StackTableLayout layout;
  layout.hiddenUnits = {"CRASHREPORT_WIN.CPP"};
  const auto lines = Lines(FormatStackTable({1, 2, 3, 9, 2, 4, 4, 5}, resolve, layout));
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[3], "|MainBox.cpp" + std::string(40, ' ') + "|    77|");
  // The unresolved 9 is skipped, so the second 2 directly repeats and goes too.
  EXPECT_EQ(lines[4], "|MainBox.cpp" + std::string(40, ' ') + "|    78|");
  EXPECT_EQ(lines[5].substr(0, 20), "|CrashReport_win.cpp");
  EXPECT_EQ(lines[6], std::string(60, '-'));
}

TEST(StackTableTest, EmptyStackIsHeaderOnly) {
  const auto table = FormatStackTable({}, [](std::uint32_t) { return std::optional<TInfoLine>(); }, {});
  EXPECT_EQ(Lines(table).size(), 4u);
  EXPECT_EQ(table.substr(0, 62), StackTableSeparator());
}

}  // namespace
}  // namespace tarnwick
