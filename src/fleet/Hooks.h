// Commands an administrator hangs on a backup's events (a device changed, a
// device failed, the run is done): a mail or a chat message in one line.
// A hook runs as the words the user wrote, never through a shell unless the
// user wrote one (`sh -c '...'`), with the event's facts in TARNWICK_*
// environment variables, never with the password, and within a time limit.
// A hook's failure is reported; it never fails the backup.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::fleet {

// Splits a command line into words: blanks separate words; '...' keeps
// everything inside as it is; "..." keeps everything but \" and \\, which
// stand for " and \; outside quotes a backslash keeps the next character.
// False and `error` for an unclosed quote, a trailing backslash or no words.
bool SplitCommandLine(const std::string& line, std::vector<std::string>& words, std::string& error);
// An option's hook (--on-change CMD...), split once before anything runs:
// nothing for an empty line; false with error naming the option.
bool SplitHookOption(const std::string& option, const std::string& line, std::vector<std::string>& words,
                     std::string& error);

// The facts of one event, UTF-8. Empty facts are not set in the hook's
// environment (Windows cannot hold an empty variable).
struct HookFacts {
  std::string device;  // TARNWICK_DEVICE
  std::string host;    // TARNWICK_HOST
  std::string result;  // TARNWICK_RESULT: changed, failed, ... or the run's totals
  std::string error;   // TARNWICK_ERROR
  std::string file;    // TARNWICK_FILE: the saved configuration
  std::string commit;  // TARNWICK_COMMIT
  std::string report;  // TARNWICK_REPORT: the report file
};

// NAME=value pairs for the hook, in a fixed order. Every `secrets` entry is
// replaced by "***" in the values first, whatever the caller scrubbed.
std::vector<std::string> HookVariables(const HookFacts& facts, const std::vector<std::string>& secrets);

// The hook's environment: ours without TARNWICK_PASSWORD and without any
// variable the hook's own facts name, then the facts.
std::vector<std::string> HookEnvironment(const std::vector<std::string>& inherited,
                                         const std::vector<std::string>& variables);

struct HookRequest {
  std::vector<std::string> argv;  // from SplitCommandLine
  HookFacts facts;
  std::vector<std::string> secrets;  // the inventory's passwords
  std::chrono::milliseconds timeLimit{30000};
  // A file the hook reads as its standard input (--on-change-batch's list);
  // empty for none.
  std::string input;
  // Polled while the hook runs (cli::StopRequested): Ctrl+C ends the hook
  // like its time limit, instead of waiting it out.
  bool (*stopRequested)() = nullptr;
};

enum class HookOutcome { Exited, Signaled, TimedOut, Interrupted, NotStarted };

struct HookResult {
  HookOutcome outcome = HookOutcome::NotStarted;
  int code = -1;  // exit status, or the signal's number
  // "exit status 3", "killed by signal 9 (Killed)", "timed out after 30 s
  // (...)", "stopped with the run (...)", "could not start: ..."
  std::string reason;
  // Bytes of output past kMaxHookOutputBytes, dropped (a note says so).
  std::uint64_t outputDropped = 0;
  bool Succeeded() const { return outcome == HookOutcome::Exited && code == 0; }
};

// A hook's output (standard output and error together) shown on our
// standard error, at most: a hook that prints without end must not fill a
// cron mail or a log. The rest is read and dropped, and a note says how much.
constexpr std::uint64_t kMaxHookOutputBytes = 64 * 1024;

// The cap's count, for both back ends' relays.
class HookOutputCap {
 public:
  // Of n bytes just read, how many to show.
  std::size_t Shown(std::size_t n);
  std::uint64_t Dropped() const { return dropped_; }
  // "[... cut after 65536 bytes, N more bytes dropped]", empty when none was.
  std::string Note() const;

 private:
  std::uint64_t shown_ = 0, dropped_ = 0;
};

// Runs the hook and waits for it. The hook gets no standard input (but
// request.input when given), writes
// its output to our standard error (standard output stays the report's)
// through a pipe of ours, cut at kMaxHookOutputBytes, and
// runs in a process group of its own (a job object on Windows) that is
// killed whole when the time limit passes or a stop is requested.
HookResult RunHook(const HookRequest& request);

// The reason text for a finished hook; shared by both back ends.
HookResult ExitedHook(int status);
HookResult TimedOutHook(std::chrono::milliseconds limit);
HookResult InterruptedHook();
HookResult HookNotStarted(const std::string& what);

}  // namespace tarnwick::fleet
