// The stop handling of tarnwick-cli in child processes: which signals only
// set the flag and which end the process at once, removing the guarded
// temporary file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cliutil/Console.h"

namespace tarnwick::cli {
namespace {

namespace fs = std::filesystem;

// Exit status of a child that still runs after its signals: 10 with the
// flag set, 11 without.
constexpr int kAliveAndFlagged = 10, kAliveNotFlagged = 11;

int RunChild(StopPolling polling, const std::vector<int>& signals, const std::string& guarded) {
  pid_t pid = ::fork();
  if (pid == 0) {
    InstallStopHandlers();
    SetStopPolling(polling);
    GuardTemporaryFile(guarded);
    for (int s : signals) ::raise(s);
    ::_exit(StopRequested() ? kAliveAndFlagged : kAliveNotFlagged);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(StopSignals, PollingModeDecidesWhoStops) {
  struct Row {
    const char* what;
    StopPolling polling;
    std::vector<int> signals;
    int status;
    bool fileKept;
  } rows[] = {
      {"nothing polls: the first signal stops", StopPolling::None, {SIGINT}, 1, false},
      {"single transfer: one signal is a request",
       StopPolling::FirstSignal,
       {SIGTERM},
       kAliveAndFlagged,
       true},
      {"single transfer: the second stops", StopPolling::FirstSignal, {SIGINT, SIGINT}, 1, false},
      {"backup: every signal is a request",
       StopPolling::EverySignal,
       {SIGINT, SIGTERM, SIGHUP, SIGINT},
       kAliveAndFlagged,
       true},
      {"no signal", StopPolling::None, {}, kAliveNotFlagged, true},
  };
  const fs::path file = fs::temp_directory_path() / ("tarnwick-stop-" + std::to_string(::getpid()) + ".part");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::ofstream(file) << "partial";
    EXPECT_EQ(RunChild(row.polling, row.signals, file.string()), row.status);
    EXPECT_EQ(fs::exists(file), row.fileKept);
    fs::remove(file);
  }
}

TEST(StopSignals, NamesTheSignal) {
  pid_t pid = ::fork();
  if (pid == 0) {
    InstallStopHandlers();
    SetStopPolling(StopPolling::EverySignal);
    const bool none = StopSignalName().empty();
    ::raise(SIGTERM);
    ::_exit(none && StopSignalName() == "SIGTERM" ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace tarnwick::cli
