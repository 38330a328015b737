// The nightly units: run state and the stale rule, unified diffs, hooks (real processes) and the HTML
// page (ignore rules, patterns and secrets: PatternsTest.cpp). With TARNWICK_HTML_PAGE set,
// HtmlReport.SamplePage also writes its page there for the browser check (html/check-page.sh).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "archive/RunState.h"
#include "archive/SecretMask.h"
#include "archive/UnifiedDiff.h"
#include "fleet/Hooks.h"
#include "fleet/HtmlReport.h"
#include "fleet/IgnoreRules.h"
#include "fleet/Metrics.h"
#include "fleet/NightlyRun.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

namespace tarnwick::fleet {
namespace {

constexpr std::int64_t kNow = 1796866200;  // 2026-12-10 01:30 UTC
constexpr std::int64_t kHour = 3600;

std::vector<std::string> Names(const archive::RunState& state) {
  std::vector<std::string> names;
  for (const archive::DeviceState& d : state.devices) names.push_back(d.name);
  return names;
}

TEST(RunState, HostileTextSurvivesTheRoundTripAndInventoryChanges) {
  archive::RunState state;
  archive::RecordAttempt(state, "core\t1\nfake\t0", kNow - kHour, true, true, "");
  archive::RecordAttempt(state, "edge\\x", kNow, false, false, "no answer\r\n\x01\x7f\\t tab\there");
  archive::RecordPush(state, "pushed", kNow - 2 * kHour, true, true, "", "192.0.2.10");
  archive::RecordPush(state, "pushed", kNow, false, false, "empty upload", "2001:db8::7\t1\n\\x\x1b");
  archive::ParsedRunState parsed = archive::ParseRunState(archive::SerializeRunState(state));
  EXPECT_TRUE(parsed.warnings.empty());
  ASSERT_EQ(parsed.state.devices.size(), 3u);
  const archive::DeviceState& pushed = parsed.state.devices[2];  // a refused push keeps the good one
  EXPECT_TRUE(pushed.lastPush == kNow && pushed.lastSuccess == kNow - 2 * kHour &&
              pushed.failingSince == kNow);
  EXPECT_EQ(pushed.lastPushFrom, "2001:db8::7\t1\n\\x\x1b");
  EXPECT_EQ(Names(parsed.state), Names(state));
  EXPECT_EQ(parsed.state.devices[0].lastChange, kNow - kHour);
  EXPECT_EQ(parsed.state.devices[1].lastError, state.devices[1].lastError);
  EXPECT_EQ(parsed.state.devices[1].failingSince, kNow);
  archive::InventoryChange change = archive::CompareInventory(parsed.state, {"new", "edge\\x"});
  EXPECT_EQ(change.added, std::vector<std::string>{"new"});
  EXPECT_EQ(change.gone, (std::vector<std::string>{"core\t1\nfake\t0", "pushed"}));
  // Prune limits: a few devices, or a small share, go freely.
  struct {
    std::size_t gone, known;
    bool faulty, force, refused;
  } prunes[] = {{3, 4, false, false, false}, {4, 40, false, false, false}, {4, 39, false, false, true},
                {8, 10, false, false, true}, {8, 10, false, true, false},  {1, 100, true, true, true}};
  for (const auto& p : prunes)
    EXPECT_EQ(!PruneRefusal(p.gone, p.known, p.faulty, p.force).empty(), p.refused)
        << p.gone << "/" << p.known;
}

TEST(RunState, DamagedFileKeepsReadableRecordsAndWarns) {
  const std::string good = "a\t1\t1\t1\t0\t0\t\n", good2 = "a\t1\t1\t1\t0\t0\t\t0\t\n";
  struct Row {
    std::string bytes;
    std::vector<std::string> kept;
    std::string warning;
  } rows[] = {
      {"", {}, "not a state file"},
      {"\x89PNG\r\n\x1a\n" + good, {}, "not a state file"},
      {"tarnwick-state 1\n" + good + "b\t1\t1\n", {"a"}, "line 3: 3 fields instead of 7"},
      {"tarnwick-state 1\nb\t1\t-1\t1\t0\t0\t\n" + good, {"a"}, "line 2: a time"},
      {"tarnwick-state 1\nb\t99999999999999999999\t1\t1\t0\t0\t\n" + good, {"a"}, "line 2: a time"},
      {"tarnwick-state 1\n" + good + "b\t1\t1\t1\t0\t0\tbad \\q\n", {"a"}, "line 3: a broken escape"},
      {"tarnwick-state 1\n" + good + "b\t1\t1\t1\t0\t0\t\\x4", {"a"}, "line 3: cut off"},
      {"tarnwick-state 1\n" + good + good, {"a"}, "line 3: a second record for a"},
      {"tarnwick-state 1\n\t1\t1\t1\t0\t0\t\n" + good, {"a"}, "line 2: no readable device name"},
      {"tarnwick-state 2\n" + good, {}, "line 2: 7 fields instead of 9"},
      {"tarnwick-state 2\nb\t1\t1\t1\t0\t0\t\tx\t::1\n" + good2, {"a"}, "line 2: a time"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes);
    archive::ParsedRunState parsed = archive::ParseRunState(row.bytes);
    EXPECT_EQ(Names(parsed.state), row.kept);
    for (const archive::DeviceState& d : parsed.state.devices)
      EXPECT_TRUE(d.lastPush == 0 && d.lastPushFrom.empty());
    ASSERT_EQ(parsed.warnings.size(), 1u);
    EXPECT_NE(parsed.warnings[0].find(row.warning), std::string::npos) << parsed.warnings[0];
  }
}

TEST(RunState, StaleRuleAndItsLine) {
  archive::RunState state;
  archive::RecordAttempt(state, "fresh", kNow - 47 * kHour, true, false, "");
  archive::RecordAttempt(state, "edge48", kNow - 48 * kHour, true, false, "");  // exactly the limit: not yet
  archive::RecordAttempt(state, "old", kNow - 49 * kHour, true, false, "");
  archive::RecordAttempt(state, "old", kNow, false, false, "no answer");  // a failure keeps the old success
  archive::RecordAttempt(state, "new", kNow - 2 * kHour, false, false, "no answer");
  archive::RecordAttempt(state, "new", kNow - kHour, false, false, "no answer");  // failing since the first
  archive::RecordAttempt(state, "future", kNow + 100 * kHour, true, false, "");   // the clock was set back
  archive::RecordAttempt(state, "back", kNow - 100 * kHour, false, false, "down");
  archive::RecordAttempt(state, "back", kNow - kHour, true, false, "");  // a success ends the failures
  // One night under a clock ten years ahead, then failing for 60 hours.
  archive::RecordAttempt(state, "ahead", kNow + 87600 * kHour, true, false, "");
  archive::RecordAttempt(state, "ahead", kNow - 60 * kHour, false, false, "down");
  archive::RecordAttempt(state, "ahead", kNow - kHour, false, false, "down");
  std::vector<archive::StaleDevice> stale = archive::StaleDevices(state, kNow, archive::kDefaultStaleHours);
  ASSERT_EQ(stale.size(), 3u);
  EXPECT_EQ(stale[0].name, "ahead");
  EXPECT_EQ(stale[0].since, kNow - 60 * kHour);
  EXPECT_EQ(stale[1].name, "old");
  EXPECT_EQ(stale[1].since, kNow - 49 * kHour);
  EXPECT_EQ(stale[2].name, "new");
  EXPECT_TRUE(stale[2].neverSucceeded);
  EXPECT_EQ(stale[2].since, kNow - 2 * kHour);
  EXPECT_EQ(archive::SuccessesInTheFuture(state, kNow), (std::vector<std::string>{"future", "ahead"}));
  EXPECT_EQ(archive::StaleLine({stale[1], stale[2]}),
            "2 devices stale, the oldest since 2026-12-08 00:30 UTC");
  EXPECT_EQ(archive::StaleLine({stale[2]}), "1 device stale, since 2026-12-09 23:30 UTC");
  EXPECT_EQ(archive::StaleLine({}), "no device stale");
  // A jump of the clock makes the rest stale too.
  EXPECT_EQ(archive::StaleDevices(state, kNow + 200 * kHour, archive::kDefaultStaleHours).size(), 7u);
  // Push-only: stale only once silent (or refused) for longer than the limit since first listed.
  archive::RunState pushes;
  for (const char* name : {"quiet47", "quiet49", "refused", "pushed"})
    archive::AwaitPush(pushes, name, kNow - (name == std::string("quiet47") ? 47 : 49) * kHour);
  archive::AwaitPush(pushes, "quiet49", kNow);  // a later night does not restart the wait
  archive::RecordPush(pushes, "refused", kNow - kHour, false, false, "empty upload", "192.0.2.1");
  archive::RecordPush(pushes, "pushed", kNow - 48 * kHour, true, true, "", "192.0.2.2");
  stale = archive::StaleDevices(pushes, kNow, 48, {"quiet47", "quiet49", "refused", "pushed"});
  ASSERT_EQ(stale.size(), 2u);
  EXPECT_TRUE(stale[0].name == "quiet49" && stale[1].name == "refused");
}

// The heartbeat: a finished run's figures survive the next run's start.
TEST(Metrics, FinishedRunCarriedIntoTheNextStart) {
  RunMetrics done;
  done.started = kNow;
  done.finished = kNow + 95;
  done.durationSeconds = 95;
  done.totals.changed = 3;
  done.totals.notReached = 2;
  done.stale = 1;
  const std::string text = MetricsText(done);
  EXPECT_NE(text.find("\ntarnwick_backup_running 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\ntarnwick_backup_devices{result=\"not reached\"} 2\n"), std::string::npos) << text;
  RunMetrics next = FinishedRunIn(text);
  next.running = true;
  next.started = kNow + 86400;
  EXPECT_EQ(MetricsText(next).substr(text.find("# HELP tarnwick_backup_last_finish")),
            text.substr(text.find("# HELP tarnwick_backup_last_finish")));
  EXPECT_NE(MetricsText(next).find("\ntarnwick_backup_running 1\n"), std::string::npos);
  EXPECT_EQ(FinishedRunIn("garbage\ntarnwick_backup_last_finish_timestamp_seconds x\n").finished, 0);
}

TEST(RunState, UtcMinuteTextAtCalendarEdges) {
  struct Row {
    std::int64_t seconds;
    const char* text;
  } rows[] = {{0, "1970-01-01 00:00 UTC"},          {951782400, "2000-02-29 00:00 UTC"},
              {1709251199, "2024-02-29 23:59 UTC"}, {4102444800, "2100-01-01 00:00 UTC"},
              {-60, "1969-12-31 23:59 UTC"},        {kNow, "2026-12-10 01:30 UTC"}};
  for (const Row& row : rows) EXPECT_EQ(archive::UtcMinuteText(row.seconds), row.text) << row.seconds;
}

IgnoreRuleList Rules(const std::vector<std::string>& sources) {
  IgnoreRuleList rules;
  std::string error;
  EXPECT_TRUE(CompileIgnoreRules(sources, rules, error)) << error;
  return rules;
}

TEST(UnifiedDiff, HunksContextAndEnds) {
  const std::string ten = "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n";
  struct Row {
    std::string before, after, expected;
  } rows[] = {
      {ten, ten, ""},
      {ten, "1\n2\n3\n4\n5\nfive\n6\n7\n8\n9\n10\n", "@@ -3,6 +3,7 @@\n 3\n 4\n 5\n+five\n 6\n 7\n 8\n"},
      {ten, "one\n2\n3\n4\n5\n6\n7\n8\n9\nten\n",
       "@@ -1,4 +1,4 @@\n-1\n+one\n 2\n 3\n 4\n@@ -7,4 +7,4 @@\n 7\n 8\n 9\n-10\n+ten\n"},
      {ten, "1\n2\n3\nx\n5\n6\n7\n8\ny\n10\n",  // six equal lines between: one hunk
       "@@ -1,10 +1,10 @@\n 1\n 2\n 3\n-4\n+x\n 5\n 6\n 7\n 8\n-9\n+y\n 10\n"},
      {"", "a\nb\n", "@@ -0,0 +1,2 @@\n+a\n+b\n"},
      {"a\n", "", "@@ -1 +0,0 @@\n-a\n"},
      {"a\nb", "a\nb\n", "@@ -1,2 +1,2 @@\n a\n-b\n\\ No newline at end of file\n+b\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.after);
    const std::string expected = row.expected.empty() ? "" : "--- a/sw1.cfg\n+++ b/sw1.cfg\n" + row.expected;
    EXPECT_EQ(archive::UnifiedDiff(row.before, row.after, "sw1.cfg"), expected);
  }
}

TEST(UnifiedDiff, HiddenChangesAndLimits) {
  archive::DiffLimits limits;
  limits.maxChangedLines = 2;
  EXPECT_EQ(archive::UnifiedDiff("a\nb\n", "c\nd\n", "x", limits),
            "files differ (more than 2 lines changed)\n");
  EXPECT_NE(archive::UnifiedDiff("a\nb\n", "a\nc\n", "x", limits).find("@@"), std::string::npos);
  const IgnoreRuleList stamp = Rules({"^! Last"});
  const archive::HiddenChange hidden = [&stamp](std::string_view line) { return IsIgnoredLine(line, stamp); };
  const std::string ten = "! Last 1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n";
  EXPECT_EQ(archive::UnifiedDiff(ten, "! Last 2\r\n2\n3\n4\n5\n6\n7\n8\n9\n10\n", "x", {}, hidden), "");
  EXPECT_EQ(archive::UnifiedDiff(ten, "! Last 2\n2\n3\n4\n5\n6\n7\n8\nnine\n10\n", "x", {}, hidden),
            "--- a/x\n+++ b/x\n@@ -6,5 +6,5 @@\n 6\n 7\n 8\n-9\n+nine\n 10\n");
  EXPECT_EQ(archive::UnifiedDiff("a\n", "b\n", "x\n+++ y"),
            "--- a/x?+++ y\n+++ b/x?+++ y\n@@ -1 +1 @@\n-a\n+b\n");
  limits.maxSteps = 3;
  EXPECT_EQ(archive::UnifiedDiff("a\nb\nc\nd\n", "b\nc\nd\ne\n", "x", limits),
            "files differ (too many changes to list)\n");
  limits.maxBytes = 3;
  EXPECT_EQ(archive::UnifiedDiff("a\nb\n", "a\n", "x", limits),
            "files differ (too large to compare: 4 and 2 bytes)\n");
}

// A device's configuration may hold escape sequences: on a terminal the
// diff shows them, it does not run them.
TEST(UnifiedDiff, TerminalDiffShowsControlBytes) {
  const std::string diff = archive::UnifiedDiff("a\n", "\x1b]0;owned\x07\x1b[2J\r\n", "x");
  EXPECT_EQ(TerminalDiff(diff), "--- a/x\n+++ b/x\n@@ -1 +1 @@\n-a\n+\\x1b]0;owned\\x07\\x1b[2J\\x0d\n");
}

// Shortest edit script length by the textbook table, for small inputs.
std::size_t EditDistance(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<std::vector<std::size_t>> lcs(a.size() + 1, std::vector<std::size_t>(b.size() + 1, 0));
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j)
      lcs[i][j] = a[i - 1] == b[j - 1] ? lcs[i - 1][j - 1] + 1 : std::max(lcs[i - 1][j], lcs[i][j - 1]);
  return a.size() + b.size() - 2 * lcs[a.size()][b.size()];
}

TEST(UnifiedDiff, RandomEditsAreMinimal) {
  std::mt19937 random(22);
  auto randomLines = [&random](std::vector<std::string>& lines, std::string& text) {
    lines.resize(random() % 12);
    for (std::string& line : lines)
      text += line = std::string(1, static_cast<char>('a' + random() % 3)) + "\n";
  };
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> a, b;
    std::string textA, textB;
    randomLines(a, textA);
    randomLines(b, textB);
    std::istringstream diff(archive::UnifiedDiff(textA, textB, "r"));
    std::size_t changed = 0;
    for (std::string line; std::getline(diff, line);) {
      if (line.rfind("---", 0) != 0 && line.rfind("+++", 0) != 0) changed += line[0] == '+' || line[0] == '-';
    }
    EXPECT_EQ(changed, EditDistance(a, b)) << textA << "|" << textB;
  }
}

TEST(Hooks, CommandLineWords) {
  struct Row {
    const char* line;
    std::vector<std::string> words;
    const char* error;
  } rows[] = {
      {"mail -s 'backup changed' ops@example.org", {"mail", "-s", "backup changed", "ops@example.org"}, ""},
      {"sh -c \"echo \\\"$TARNWICK_DEVICE\\\" \\\\ done\"",
       {"sh", "-c", "echo \"$TARNWICK_DEVICE\" \\ done"},
       ""},
      {"a\\ b '' c'd'e", {"a b", "", "cde"}, ""},
      {"notify 'open", {}, "unclosed '"},
      {"notify \"open", {}, "unclosed \""},
      {"notify x\\", {}, "ends with a backslash"},
      {"  \t ", {}, "empty"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    std::vector<std::string> words;
    std::string error;
    EXPECT_EQ(SplitCommandLine(row.line, words, error), row.words.size() > 0);
    EXPECT_EQ(words, row.words);
    EXPECT_NE(error.find(row.error), std::string::npos) << error;
  }
}

TEST(Hooks, EnvironmentDropsThePasswordAndStaleFacts) {
  HookFacts facts;
  facts.device = "core";
  facts.error = "denied for cfg/hunter2";
  const std::vector<std::string> environment =
      HookEnvironment({"PATH=/bin", "TARNWICK_PASSWORD=hunter2", "tarnwick_password=x", "TARNWICK_COMMIT=old",
                       "TARNWICK_X=1"},
                      HookVariables(facts, {"hunter2"}));
  EXPECT_EQ(environment, (std::vector<std::string>{"PATH=/bin", "TARNWICK_X=1", "TARNWICK_DEVICE=core",
                                                   "TARNWICK_ERROR=denied for cfg/***"}));
}

#ifdef _WIN32
const char* const kHang = "ping -n 600 127.0.0.1 >NUL";
std::vector<std::string> Shell(const char* script) { return {"cmd", "/c", script}; }
#else
const char* const kHang = "sleep 600";
std::vector<std::string> Shell(const char* script) { return {"sh", "-c", script}; }
#endif

TEST(Hooks, OutcomesOfRealProcesses) {
  struct Row {
    std::vector<std::string> argv;
    HookOutcome outcome;
    int code;
    const char* reason;
    int limitMs = 30000;
    bool (*stop)() = nullptr;
    std::uint64_t dropped = 0;  // output past the cap
  } rows[] = {
      {Shell(kHang), HookOutcome::Interrupted, -1, "stopped with the run", 30000, [] { return true; }},
      {Shell("exit 0"), HookOutcome::Exited, 0, "exit status 0"},
      {Shell("exit 3"), HookOutcome::Exited, 3, "exit status 3"},
      {{"/nonexistent/hook"}, HookOutcome::NotStarted, -1, "could not start: /nonexistent/hook: "},
#ifdef _WIN32
      {Shell(kHang), HookOutcome::TimedOut, -1, "timed out after 2 s", 2000},
      {Shell("for /L %i in (1,1,6000) do @echo 0123456789"), HookOutcome::Exited, 0, "exit status 0", 60000,
       nullptr, 6000 * 12 - kMaxHookOutputBytes},
#else
      {Shell("kill -TERM $$"), HookOutcome::Signaled, SIGTERM, "killed by signal 15"},
      {Shell("head -c 1000000 /dev/zero; head -c 1000 /dev/zero >&2"), HookOutcome::Exited, 0,
       "exit status 0", 30000, nullptr, 1001000 - kMaxHookOutputBytes},
#endif
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.argv.back());
    HookRequest request;
    request.argv = row.argv;
    request.timeLimit = std::chrono::milliseconds(row.limitMs);
    request.stopRequested = row.stop;
#ifndef _WIN32
    // What the hooks print (up to the cap) is not the test's output.
    const int ours = ::dup(STDERR_FILENO), null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDERR_FILENO);
    HookResult result = RunHook(request);
    ::dup2(ours, STDERR_FILENO);
    ::close(ours);
    ::close(null);
    EXPECT_EQ(result.outputDropped, row.dropped);
#else
    HookResult result = RunHook(request);
    EXPECT_EQ(result.outputDropped, row.dropped);
#endif
    EXPECT_EQ(result.outcome, row.outcome);
    EXPECT_EQ(result.code, row.code);
    EXPECT_EQ(result.reason.rfind(row.reason, 0), 0u) << result.reason;
  }
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

#ifdef _WIN32
TEST(Hooks, ReadsItsFactsButNeverThePassword) {
  const std::string out = testing::TempDir() + "nightly-hook-env.txt";
  _putenv_s("TARNWICK_PASSWORD", "hunter2");
  HookRequest request;
  request.argv = {"cmd", "/c", "set", ">", out};
  request.facts = {"core sw", "", "", "denied: cfg/hunter2", "", "", ""};
  request.secrets = {"hunter2"};
  EXPECT_TRUE(RunHook(request).Succeeded());
  _putenv_s("TARNWICK_PASSWORD", "");
  const std::string environment = Slurp(out);
  EXPECT_NE(environment.find("\nTARNWICK_DEVICE=core sw\r\nTARNWICK_ERROR=denied: cfg/***\r\n"),
            std::string::npos);
  EXPECT_EQ(environment.find("hunter2"), std::string::npos);
  std::remove(out.c_str());
}
#else
std::string TempPath(const std::string& leaf) {
  return testing::TempDir() + "nightly-" + std::to_string(::getpid()) + "-" + leaf;
}

TEST(Hooks, ReadsItsFactsButNeverThePasswordNorOurDescriptors) {
  const std::string out = TempPath("env.txt");
  ::setenv("TARNWICK_PASSWORD", "hunter2", 1);
  ASSERT_EQ(::dup2(STDERR_FILENO, 100), 100);  // not close-on-exec, like a careless library's
  HookRequest request;
  request.argv = {
      "sh", "-c",
      "printf '%s|%s|%s|%s|%s' \"$TARNWICK_DEVICE\" \"$TARNWICK_ERROR\" \"${TARNWICK_PASSWORD-unset}\" "
      "\"$(cat)\" \"$(ls /proc/self/fd/100 2>/dev/null)\" > \"$0\"",
      out};
  request.facts.device = "core sw";
  request.facts.error = "denied: cfg/hunter2";
  request.secrets = {"hunter2"};
  HookResult result = RunHook(request);
  ::unsetenv("TARNWICK_PASSWORD");
  ::close(100);
  EXPECT_TRUE(result.Succeeded()) << result.reason;
  EXPECT_EQ(Slurp(out), "core sw|denied: cfg/***|unset||");  // and no standard input
  std::remove(out.c_str());
}

// "Z" (a zombie waiting for its parent) or gone: it was killed.
bool Dead(pid_t pid) {
  std::string stat = Slurp("/proc/" + std::to_string(pid) + "/stat");
  std::size_t close = stat.rfind(')');
  return stat.empty() || (close != std::string::npos && stat.substr(close + 2, 1) == "Z");
}

TEST(Hooks, HangingHookAndWhatItStartedAreKilledAtTheLimit) {
  const std::string out = TempPath("hang.pid");
  HookRequest request;
  request.argv = {"sh", "-c", "sleep 600 & echo $! > \"$0\"; wait", out};
  // Long enough for sh to start its background job on a loaded machine.
  request.timeLimit = std::chrono::milliseconds(2000);
  HookResult result = RunHook(request);
  EXPECT_EQ(result.outcome, HookOutcome::TimedOut);
  EXPECT_EQ(result.reason.rfind("timed out after 2 s", 0), 0u) << result.reason;
  const pid_t background = static_cast<pid_t>(std::atol(Slurp(out).c_str()));
  ASSERT_GT(background, 0);
  // SIGKILL lands asynchronously; the bound only keeps a broken kill from
  // hanging the test.
  for (int i = 0; i < 500 && !Dead(background); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(Dead(background));
  if (!Dead(background)) ::kill(background, SIGKILL);
  std::remove(out.c_str());
}
#endif

HtmlRunPage SamplePage() {
  HtmlRunPage page;
  page.started = "2026-12-10 01:30 UTC";
  page.finished = "2026-12-10 01:31 UTC";
  page.staleLine = "1 device stale, since 2026-12-06 01:30 UTC";
  page.totals = {{"devices", 5}, {"changed", 1}, {"unchanged", 1}, {"failed", 2}, {"stale", 1}};
  page.devices = {
      {"core-1", "10.0.0.1:69", "changed", 2048, "2026-12-10 01:30 UTC", false, ""},
      {"edge-2", "10.0.0.2:69", "pushed", 1024, "2026-12-10 01:30 UTC", false, "", "push", "<b>10.0.0.2</b>"},
      {"<script>console.error('x')</script>", "10.0.0.3:69", "failed", 0, "", true, "no answer"},
      {"wan\"3'", "10.0.0.4:69", "failed", 0, "2026-12-06 01:30 UTC", true,
       "ERROR 2: <img src=x onerror=alert(1)> \xff\x1b[31m"},
      {"lab-5", "[::1]:69", "disabled", 0, "", false, ""},
  };
  // Through the run's masking layer: the page shows that the community
  // changed, never what it is (check-page.sh looks for both).
  const archive::SecretMask mask(archive::SecretMask::RandomKey());
  page.diffs = {
      {"core-1", mask.Diff("--- a/c\n+++ b/c\n@@ -1,2 +1,2 @@\n-hostname <old>\n-snmp-server community "
                           "0ldC0mm RO\n+hostname new&\n+snmp-server community N3wC0mm RO\n")}};
  return page;
}

TEST(HtmlReport, EscapesEverythingAHostileDeviceSends) {
  struct Row {
    const char* text;
    const char* html;
  } rows[] = {
      {"<script>&\"'", "&lt;script&gt;&amp;&quot;&#39;"},
      {"bad \xff byte", "bad \xEF\xBF\xBD byte"},
      {"\x1b[31mred", "\xEF\xBF\xBD[31mred"},
      {"a\r\nb\rc\td", "a\nb\uFFFDc\td"},
      {"日本 \xc2\x85", "日本 \xEF\xBF\xBD"},
      {"a\xe2\x80\xae"
       "b\xe2\x81\xa6"
       "c\xe2\x80\x8f",
       "a\\u202eb\\u2066c\\u200f"},
  };
  for (const Row& row : rows) EXPECT_EQ(HtmlEscaped(row.text), row.html) << row.text;
}

TEST(HtmlReport, SamplePage) {
  const HtmlRunPage sample = SamplePage();
  const std::string page = HtmlReportPage(sample);
  std::size_t rows = 0;
  for (std::size_t at = page.find("<tr class=\"device "); at != std::string::npos;
       at = page.find("<tr class=\"device ", at + 1))
    ++rows;
  EXPECT_EQ(rows, sample.devices.size());
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_NE(page.find("<li><b>5</b> devices</li>"), std::string::npos);
  EXPECT_NE(page.find(">push</td><td data-label=\"Result\">pushed</td>"), std::string::npos);  // side by side
  EXPECT_NE(page.find(">&lt;b&gt;10.0.0.2&lt;/b&gt;</td></tr>"), std::string::npos);
  EXPECT_NE(page.find(">Page made 2026-12-10 01:31 UTC, by the run started "), std::string::npos);
  EXPECT_NE(page.find("<span class=\"del\">-hostname &lt;old&gt;</span>"), std::string::npos);
  EXPECT_NE(page.find("name=\"viewport\""), std::string::npos);
  if (const char* path = std::getenv("TARNWICK_HTML_PAGE")) {
    std::ofstream(path, std::ios::binary) << page;
  }
}

}  // namespace
}  // namespace tarnwick::fleet
