// What tarnwick-cli needs from its process and console, with a POSIX and a
// Windows part: the stop signals (Ctrl+C, SIGTERM / console close), whether
// standard error is a terminal, and the environment. Shared by the single
// transfer commands and `backup`.
//
// Stopping: while a poll loop looks at the flag (StopPolling), the first
// signal only sets it, so the transfer is abandoned properly (ERROR to the
// server, temporary file removed, exit 1). A second signal, or any signal
// while nothing polls (the window engine blocks in its transfer), removes the
// guarded temporary file at once and ends the process with exit status 1 --
// except under StopPolling::EverySignal, for a loop that holds many
// temporary files and must remove them itself.
#pragma once

#include <optional>
#include <string>

namespace tarnwick::cli {

// Opens each standard stream (0-2 / the three standard handles) that is
// closed at start on the null device, so that no file the program opens
// later takes its number and receives what was meant for the console: the
// first thing every entry point does. Idempotent.
void OpenClosedStandardStreams();
// Whether standard input (0), output (1) or error (2) was closed at start:
// "-" then names no stream, and is refused rather than read or written as
// the null device (an empty upload, a download thrown away, called done).
bool StandardStreamWasClosed(int which);

// Installs the handlers for the rest of the process; idempotent.
void InstallStopHandlers();
bool StopRequested();
// "SIGINT", "SIGTERM", "Ctrl+C", ...; empty while none came.
std::string StopSignalName();
enum class StopPolling {
  None,         // nothing looks at the flag: stop at once
  FirstSignal,  // the first signal sets the flag, a second stops at once
  EverySignal,  // every signal only sets the flag (a console close still stops)
};
void SetStopPolling(StopPolling polling);
// The temporary file that a forced stop removes ("" for none). The path is
// copied into storage that the handler may read.
void GuardTemporaryFile(const std::string& path);

// A long-running process that reads its configuration again on request:
// from now on SIGHUP asks for that instead of stopping the process, and
// TakeReloadRequest says (once) whether one came. Windows has no such
// signal: nothing ever asks.
void WatchReloadSignal();
bool TakeReloadRequest();

bool StandardErrorIsTerminal();
std::optional<std::string> EnvironmentValue(const char* name);  // UTF-8

}  // namespace tarnwick::cli
