// What tarnwick-cli needs from its process and console, with a POSIX and a
// Windows part: the stop signals (Ctrl+C, SIGTERM / console close), whether
// standard error is a terminal, and the environment.
//
// Stopping: the first signal only sets a flag when a streaming transfer polls
// it (StopPolling), so the transfer is abandoned properly (ERROR to the
// server, temporary file removed, exit 1). A second signal, or any signal
// while nothing polls (the window engine blocks in its transfer), removes the
// guarded temporary file at once and ends the process with exit status 1.
#pragma once

#include <optional>
#include <string>

namespace tarnwick::cli {

// Installs the handlers for the rest of the process; idempotent.
void InstallStopHandlers();
bool StopRequested();
// "SIGINT", "SIGTERM", "Ctrl+C", ...; empty while none came.
std::string StopSignalName();
void SetStopPolling(bool polling);
// The temporary file that a forced stop removes ("" for none). The path is
// copied into storage that the handler may read.
void GuardTemporaryFile(const std::string& path);

bool StandardErrorIsTerminal();
std::optional<std::string> EnvironmentValue(const char* name);  // UTF-8

}  // namespace tarnwick::cli
