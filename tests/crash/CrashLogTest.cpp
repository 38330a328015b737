// Log file rules: side-file names, clearing on a new version, skipping
// repeated stack tables, trimming old entries, and damaged content.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "crash/CrashLog.h"
#include "crash/StackTable.h"

namespace tarnwick {
namespace {

TEST(SideFilePathTest, ReplacesTheLastThreeCharacters) {
  EXPECT_EQ(SideFilePath("C:\\Tools\\Tarnwick.exe", "log"), "C:\\Tools\\Tarnwick.log");
  EXPECT_EQ(SideFilePath("C:\\Tools\\Tarnwick.exe", "crash.ini"), "C:\\Tools\\Tarnwick.crash.ini");
  EXPECT_EQ(SideFilePath("C:\\Tools\\Tarnwick.exe", "log", "D:\\Logs\\"), "D:\\Logs\\Tarnwick.log");
  EXPECT_EQ(SideFilePath("C:\\Tools\\Tarnwick.exe", "log", "D:\\Logs\\old.txt"), "D:\\Logs\\Tarnwick.log");
  EXPECT_EQ(SideFilePath("C:\\Tools\\Tarnwick.exe", "log", "nofolder"), "Tarnwick.log");
  EXPECT_EQ(SideFilePath("ab", "log"), "log");
  EXPECT_EQ(FileNamePart("C:\\a\\b.exe"), "b.exe");
  EXPECT_EQ(FileNamePart("/tmp/x/b.exe"), "b.exe");
  EXPECT_EQ(FileNamePart("b.exe"), "b.exe");
}

std::string Table(const std::string& unit) {
  StackTableLayout layout;
  return FormatStackTable(
      {1},
      [&](std::uint32_t) {
        return std::optional<TInfoLine>({0, "T.exe", unit, 5});
      },
      layout);
}

std::string Entry(const std::string& version, const std::string& table) {
  return "HOST 2026/12/07 21:00:00\r\nException Type   : EFOpenError\r\nVersion Number   : " + version +
         "\r\n" + table + "\r\n";
}

TEST(CrashLogTest, FirstEntryGoesIntoAnEmptyLog) {
  const auto update =
      UpdateLog("", Entry("----", Table("A.cpp")), Table("A.cpp"), "----", TarnwickCrashOptions());
  EXPECT_FALSE(update.duplicate);
  EXPECT_EQ(update.content, Entry("----", Table("A.cpp")));
}

TEST(CrashLogTest, RepeatedStackTableIsSkippedIgnoringCase) {
  const CrashOptions o = TarnwickCrashOptions();
  const std::string log = Entry("----", Table("A.cpp")) + Entry("----", Table("B.cpp"));
  for (const char* unit : {"A.cpp", "a.CPP", "B.cpp"}) {
    SCOPED_TRACE(unit);
    const auto update = UpdateLog(log, Entry("----", Table(unit)), Table(unit), "----", o);
    EXPECT_TRUE(update.duplicate);
    EXPECT_EQ(update.content, log);
  }
  const auto fresh = UpdateLog(log, Entry("----", Table("C.cpp")), Table("C.cpp"), "----", o);
  EXPECT_FALSE(fresh.duplicate);
  EXPECT_EQ(fresh.content, log + Entry("----", Table("C.cpp")));

  CrashOptions keepAll = o;
  keepAll.skipDuplicates = false;
  EXPECT_FALSE(UpdateLog(log, Entry("----", Table("A.cpp")), Table("A.cpp"), "----", keepAll).duplicate);
}

TEST(CrashLogTest, NewVersionClearsTheLog) {
  const CrashOptions o = TarnwickCrashOptions();
  const std::string log = Entry("1.0", Table("A.cpp")) + Entry("1.1", Table("B.cpp"));
  struct Case {
    std::string content, version;
    bool cleared;
  } cases[] = {
      {log, "1.1", false},  // the last recorded version counts
      {log, "1.0", true},
      {log, "1.2", true},
      {"no version line at all\r\n", "1.1", true},
      {"Version Number   : 1.1", "1.1", false},  // no CR LF after the value
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content + " / " + c.version);
    // The same table as already stored: kept content makes it a duplicate.
    const auto update = UpdateLog(c.content, Entry(c.version, Table("A.cpp")), Table("A.cpp"), c.version, o);
    if (c.cleared) {
      EXPECT_EQ(update.content, Entry(c.version, Table("A.cpp")));
    } else {
      EXPECT_EQ(update.content.rfind(c.content, 0), 0u);
    }
  }
  CrashOptions noLimit = o;
  noLimit.noLogLimit = true;
  EXPECT_EQ(UpdateLog(log, "x", Table("Z.cpp"), "9.9", noLimit).content, log + "x");
}

TEST(CrashLogTest, TrimsTheOldestEntriesToMakeRoom) {
  CrashOptions o = TarnwickCrashOptions();
  o.clearLogOnNewVersion = false;
  const std::string a = Entry("1", Table("A.cpp")), b = Entry("1", Table("B.cpp")),
                    c = Entry("1", Table("C.cpp"));
  const std::string d = Entry("1", Table("D.cpp"));
  struct Case {
    int max;
    std::string expected;
  } cases[] = {
      {4, a + b + c + d},  {3, b + c + d}, {2, c + d}, {1, d},
      {0, a + b + c + d},  // would need more entries removed than exist: nothing goes
      {-1, a + b + c + d},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.max);
    o.maxLogEntries = k.max;
    EXPECT_EQ(UpdateLog(a + b + c, d, Table("D.cpp"), "1", o).content, k.expected);
  }
}

TEST(CrashLogTest, DamagedContentIsHandledAsText) {
  CrashOptions o = TarnwickCrashOptions();
  o.clearLogOnNewVersion = false;
  o.maxLogEntries = 1;
  const std::string sep = StackTableSeparator();
  const std::string table = Table("A.cpp");
  struct Case {
    std::string name, content;
  } cases[] = {
      {"two separators only", sep + sep},
      {"separator without line start", "x" + sep + "x" + sep + "x" + sep},
      {"table cut short", table.substr(0, table.size() - 5)},
      {"binary", std::string(5000, '\0') + std::string(3, '\xff')},
      {"dashes of other lengths", std::string(59, '-') + "\r\n" + std::string(61, '-') + "\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto update = UpdateLog(c.content, "new", Table("B.cpp"), "1", o);
    EXPECT_FALSE(update.duplicate);
    EXPECT_EQ(update.content, c.content + "new");
  }
  // A huge log of one repeated table: still found, still bounded.
  std::string big;
  for (int i = 0; i < 2000; ++i) big += Entry("1", Table("Q.cpp"));
  o.maxLogEntries = 5000;
  EXPECT_TRUE(UpdateLog(big, "new", Table("q.cpp"), "1", o).duplicate);
}

TEST(CrashLogTest, LongTablesCompareOnTheirFirstTenThousandCharacters) {
  CrashOptions o = TarnwickCrashOptions();
  o.clearLogOnNewVersion = false;
  std::string rows;
  for (int i = 0; i < 200; ++i) rows += "|" + std::string(51, 'r') + "|" + std::string(6, ' ') + "|\r\n";
  const std::string sep = StackTableSeparator();
  const std::string stored = sep + "head\r\n" + sep + rows + "|stored tail|\r\n" + sep;
  const std::string sameStart = sep + "head\r\n" + sep + rows + "|other tail|\r\n" + sep;
  const std::string otherStart = sep + "HEAD2\r\n" + sep + rows + "|stored tail|\r\n" + sep;
  ASSERT_GT(stored.size(), 10000u);
  EXPECT_TRUE(UpdateLog(stored + "\r\n", "x", sameStart, "----", o).duplicate);
  EXPECT_FALSE(UpdateLog(stored + "\r\n", "x", otherStart, "----", o).duplicate);
}

// Regression: an unreadable or oversized log used to be taken as empty and
// rewritten from the start, which destroyed every earlier entry.
TEST(LogWritePlanTest, UnreadableLogIsAppendedToNeverRewritten) {
  const CrashOptions o = TarnwickCrashOptions();
  const std::string entry = Entry("----", Table("A.cpp"));
  for (const bool limitOff : {false, true}) {
    CrashOptions options = o;
    options.noLogLimit = limitOff;
    SCOPED_TRACE(limitOff);
    const LogWrite plan = PlanLogWrite(std::nullopt, entry, Table("A.cpp"), "----", options);
    EXPECT_EQ(plan.kind, LogWrite::Kind::Append);
    EXPECT_EQ(plan.bytes, entry);
  }
}

TEST(LogWritePlanTest, OnlyTheLogRulesReplaceTheContent) {
  CrashOptions trim = TarnwickCrashOptions();
  trim.clearLogOnNewVersion = false;
  trim.maxLogEntries = 2;
  const std::string a = Entry("1", Table("A.cpp")), b = Entry("1", Table("B.cpp")),
                    c = Entry("1", Table("C.cpp"));
  struct Case {
    const char* name;
    std::string content, entry, table, version;
    CrashOptions options;
    LogWrite::Kind kind;
    std::string bytes;
  } cases[] = {
      {"first entry", "", a, Table("A.cpp"), "1", TarnwickCrashOptions(), LogWrite::Kind::Append, a},
      {"same version", a, b, Table("B.cpp"), "1", TarnwickCrashOptions(), LogWrite::Kind::Append, b},
      {"repeat", a, a, Table("A.cpp"), "1", TarnwickCrashOptions(), LogWrite::Kind::Nothing, ""},
      {"new version", a, Entry("2", Table("B.cpp")), Table("B.cpp"), "2", TarnwickCrashOptions(),
       LogWrite::Kind::Replace, Entry("2", Table("B.cpp"))},
      {"trimmed", a + b, c, Table("C.cpp"), "1", trim, LogWrite::Kind::Replace, b + c},
      {"room left", a, c, Table("C.cpp"), "1", trim, LogWrite::Kind::Append, c},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const LogWrite plan = PlanLogWrite(k.content, k.entry, k.table, k.version, k.options);
    EXPECT_EQ(plan.kind, k.kind);
    EXPECT_EQ(plan.bytes, k.bytes);
  }
}

// A reader over `content` that hands out at most `piece` bytes a call, fails
// from `failFrom` on in pass `failPass` (1: the first read from the start;
// 0: never), and remembers the largest request.
struct PieceReader {
  const std::string& content;
  std::size_t piece;
  int failPass;
  std::uint64_t failFrom;
  int pass = 0;
  std::size_t largest = 0;
  std::optional<std::size_t> operator()(std::uint64_t at, char* into, std::size_t size) {
    largest = std::max(largest, size);
    if (at == 0) ++pass;
    if (pass == failPass && at >= failFrom) return std::nullopt;
    return content.copy(into, std::min(size, piece), static_cast<std::size_t>(at));
  }
};

// The log read piece by piece, cut anywhere (inside a separator, the
// version label, a value's CR LF, a table), gives the same decision; a read
// that fails keeps every entry.
TEST(LogEditTest, PiecesOfAnySizeGiveTheSameDecision) {
  CrashOptions trim = TarnwickCrashOptions();
  trim.clearLogOnNewVersion = false;
  trim.maxLogEntries = 2;
  const std::string a = Entry("1", Table("A.cpp")), b = Entry("1", Table("B.cpp")),
                    c = Entry("1", Table("C.cpp"));
  using K = LogWrite::Kind;
  struct Case {
    const char* name;
    std::string content, table, version;
    CrashOptions options;
    int failPass;
    std::uint64_t failFrom;
    K kind;
    std::uint64_t keepFrom;
  } cases[] = {
      {"repeat", a + b, Table("b.CPP"), "1", TarnwickCrashOptions(), 0, 0, K::Nothing, 0},
      {"same version", a + b, Table("C.cpp"), "1", TarnwickCrashOptions(), 0, 0, K::Append, 0},
      {"new version", a + b, Table("C.cpp"), "2", TarnwickCrashOptions(), 0, 0, K::Replace, (a + b).size()},
      {"last label counts", Entry("2", "") + a, Table("C.cpp"), "1", TarnwickCrashOptions(), 0, 0, K::Append,
       0},
      {"longer value", a, Table("C.cpp"), "", TarnwickCrashOptions(), 0, 0, K::Replace, a.size()},
      {"value at the end", "x\r\nVersion Number   : 1", Table("C.cpp"), "1", TarnwickCrashOptions(), 0, 0,
       K::Append, 0},
      {"value and CR at the end", "Version Number   : 1\r", Table("C.cpp"), "1", TarnwickCrashOptions(), 0, 0,
       K::Replace, 21},
      {"trimmed", a + b + c, Table("D.cpp"), "1", trim, 0, 0, K::Replace, (a + b).size()},
      {"unreadable", a + b + c, Table("A.cpp"), "1", trim, 1, 0, K::Append, 0},
      {"unreadable when trimming", a + b + c, Table("D.cpp"), "1", trim, 2, 0, K::Append, 0},
  };
  for (const Case& k : cases) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{61},
                                    std::size_t{62}, std::size_t{63}, kLogPieceSize}) {
      SCOPED_TRACE(std::string(k.name) + " / " + std::to_string(piece));
      PieceReader reader{k.content, piece, k.failPass, k.failFrom};
      const LogEdit edit = PlanLogEdit(k.content.size(), std::ref(reader), k.table, k.version, k.options);
      EXPECT_EQ(edit.kind, k.kind);
      EXPECT_EQ(edit.keepFrom, k.keepFrom);
      EXPECT_LE(reader.largest, kLogPieceSize);
    }
  }
}

// A log far larger than any piece is read in pieces only: 600 MiB of old
// entries and filler behind a stored table that repeats, then one that
// does not.
TEST(LogEditTest, LargeLogIsReadInBoundedPieces) {
  const std::string head = Entry("1", Table("A.cpp"));
  const std::uint64_t size = 600ull << 20;
  std::size_t largest = 0;
  const LogReadAt read = [&](std::uint64_t at, char* into, std::size_t want) -> std::optional<std::size_t> {
    largest = std::max(largest, want);
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(want, size - at));
    const std::size_t fromHead = at < head.size() ? head.copy(into, n, static_cast<std::size_t>(at)) : 0;
    std::fill(into + fromHead, into + n, '.');
    return n;
  };
  CrashOptions o = TarnwickCrashOptions();
  EXPECT_EQ(PlanLogEdit(size, read, Table("a.cpp"), "1", o).kind, LogWrite::Kind::Nothing);
  EXPECT_EQ(PlanLogEdit(size, read, Table("B.cpp"), "1", o).kind, LogWrite::Kind::Append);
  EXPECT_LE(largest, kLogPieceSize);
}

}  // namespace
}  // namespace tarnwick
