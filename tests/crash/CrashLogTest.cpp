// Log file rules: side-file names, clearing on a new version, skipping
// repeated stack tables, trimming old entries, and damaged content.
#include <gtest/gtest.h>

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
  // Read in pieces, a log that fails in the pass that finds where to trim.
  CrashOptions trim = o;
  trim.clearLogOnNewVersion = false;
  trim.maxLogEntries = 1;
  const std::string log = entry + entry;
  int pass = 0;
  const LogReadAt read = [&](std::uint64_t at, char* into, std::size_t size) -> std::optional<std::size_t> {
    if (at == 0 && ++pass == 2) return std::nullopt;
    return log.copy(into, size, static_cast<std::size_t>(at));
  };
  EXPECT_EQ(PlanLogEdit(log.size(), read, Table("B.cpp"), "----", trim).kind, LogWrite::Kind::Append);
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
    // The same read in pieces ending inside, at and behind separator lines.
    for (const std::size_t piece : {1u, 61u, 62u, 63u}) {
      const LogReadAt read = [&](std::uint64_t at, char* into,
                                 std::size_t size) -> std::optional<std::size_t> {
        EXPECT_LE(size, kLogPieceSize);
        return k.content.copy(into, std::min(size, piece), static_cast<std::size_t>(at));
      };
      const LogEdit edit = PlanLogEdit(k.content.size(), read, k.table, k.version, k.options);
      EXPECT_EQ(edit.kind, k.kind) << piece;
      const std::string after = k.content.substr(static_cast<std::size_t>(edit.keepFrom)) + k.entry;
      EXPECT_EQ(after, k.kind == LogWrite::Kind::Replace ? k.bytes : k.content + k.entry) << piece;
    }
  }
}

}  // namespace
}  // namespace tarnwick
