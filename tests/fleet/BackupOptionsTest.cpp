// The backup command line: defaults, ranges, --git only where it exists.
#include <gtest/gtest.h>

#include "fleet/BackupOptions.h"

namespace tarnwick::fleet {
namespace {

TEST(BackupOptions, DefaultsAndValues) {
  BackupParse p = ParseBackupArguments({"inv.csv", "--dest", "out"}, true);
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.jobs, 32);
  EXPECT_FALSE(p.options.git);
  EXPECT_EQ(p.options.defaults.timeoutMs, 1000u);
  EXPECT_EQ(p.options.defaults.retries, 5);
  EXPECT_EQ(p.options.defaults.port, "69");
  EXPECT_EQ(p.options.defaults.minRatio, 0.5);
  EXPECT_EQ(p.options.maxBytes, 64u << 20);
  EXPECT_EQ(p.options.deadlineSeconds, 600u);

  p = ParseBackupArguments({"--jobs=8",    "--git", "--dest=o",    "--report", "r.JSON",   "--report=p.html",
                            "--timeout",   "200",   "--retries",   "1",        "--port",   "1069",
                            "--delimiter", ";",     "--min-ratio", "0.25",     "--expect", "^hostname ",
                            "--max-bytes", "1000",  "--deadline",  "30",       "--",       "-inv.csv"},
                           true);
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.inventory, "-inv.csv");
  EXPECT_EQ(p.options.jobs, 8);
  EXPECT_TRUE(p.options.git);
  ASSERT_EQ(p.options.reports.size(), 2u);
  EXPECT_TRUE(ReportIsJson(p.options.reports[0]));
  EXPECT_TRUE(ReportIsHtml(p.options.reports[1]));
  EXPECT_FALSE(ReportIsJson("r.csv"));
  EXPECT_EQ(p.options.defaults.timeoutMs, 200u);
  EXPECT_EQ(p.options.defaults.retries, 1);
  EXPECT_EQ(p.options.defaults.port, "1069");
  EXPECT_EQ(p.options.defaults.delimiter, ";");
  EXPECT_EQ(p.options.defaults.minRatio, 0.25);
  EXPECT_EQ(p.options.defaults.expect, "^hostname ");
  EXPECT_EQ(p.options.maxBytes, 1000u);
  EXPECT_EQ(p.options.deadlineSeconds, 30u);
}

// --only NAME|GLOB: '*' and '?' only, the whole name.
TEST(BackupOptions, GlobMatchesWholeNames) {
  const struct {
    const char* glob;
    const char* name;
    bool matches;
  } rows[] = {{"sw*", "sw01", true},  {"sw*", "core-sw01", false}, {"*-sw??", "core-sw01", true},
              {"*", "", true},        {"a*b*c", "aXbYc", true},    {"a*b*c", "aXbYcd", false},
              {"core", "core", true}, {"core", "core1", false},    {"?", "", false}};
  for (const auto& row : rows)
    EXPECT_EQ(GlobMatches(row.glob, row.name), row.matches) << row.glob << " " << row.name;
}

TEST(BackupOptions, RefusedLines) {
  struct Row {
    std::vector<std::string> args;
    bool gitAvailable;
    std::string says;
  } rows[] = {
      {{"inv.csv"}, true, "--dest"},
      {{"--dest", "o"}, true, "no inventory"},
      {{"a", "b", "--dest", "o"}, true, "one inventory"},
      {{"a", "--dest"}, true, "needs a value"},
      {{"a", "--dest", "o", "--jobs", "0"}, true, "--jobs"},
      {{"a", "--dest", "o", "--jobs", "4097"}, true, "--jobs"},
      {{"a", "--dest", "o", "--timeout", "-1"}, true, "--timeout"},
      {{"a", "--dest", "o", "--report", "r.txt"}, true, ".json, .csv or .html"},
      {{"a", "--dest", "o", "--git"}, false, "not available in this build"},
      {{"a", "--dest", "o", "--colour"}, true, "unknown option"},
      {{"a", "--dest", "o", "--min-ratio", "1.5"}, true, "--min-ratio"},
      {{"a", "--dest", "o", "--expect", "(unclosed"}, true, "--expect: not a regular expression"},
      {{"a", "--dest", "o", "--expect", "(a{1000}){1000}"}, true, "--expect: not a regular expression"},
      {{"a", "--dest", "o", "--max-bytes", "0"}, true, "--max-bytes"},
      {{"a", "--dest", "o", "--git-branch", "nightly"}, true, "--git-branch needs --git"},
      {{"a", "--dest", "o", "--git-push", "/srv/central.git"}, true, "--git-push needs --git"},
      {{"a", "--dest", "o", "--git", "--git-branch", "../x"}, true, "is no branch name"},
      {{"a", "--dest", "o", "--git", "--git-branch", "a.lock"}, true, "is no branch name"},
      {{"a", "--dest", "o", "--deadline", "0"}, true, "--deadline"},
      {{"a", "--dest", "o", "--only", "sw*", "--retry-failed", "r.json"}, true, "do not go together"},
      {{"a", "--dest", "o", "--diff=yes"}, true, "--diff takes no value"},
      {{"a", "--dest", "o", "--report", "r.json", "--report", "./r.json"}, true, "given twice"},
      {{"a", "--dest", "o", "--retry-failed", "r.json", "--report", "x/../r.json"}, true, "another name"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.says);
    BackupParse p = ParseBackupArguments(row.args, row.gitAvailable);
    EXPECT_FALSE(p.ok);
    EXPECT_NE(p.error.find(row.says), std::string::npos) << p.error;
  }
}

}  // namespace
}  // namespace tarnwick::fleet
