// The get and put operations of tarnwick-cli: the same steps and work-log
// lines as the window's receive and send, written to a stream instead of the
// window's log, on the streaming engine (StreamingTransfer) or on the
// window's own engine (--engine window).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/CliOptions.h"

namespace tarnwick::cli {

enum ExitCode : int { kExitDone = 0, kExitTransferFailed = 1, kExitUsageOrLocalFile = 2 };

// Where a run writes and what it knows of its process.
struct RunContext {
  std::ostream& out;  // --help, --version, --json
  std::ostream& err;  // work log, messages, progress line
  bool errIsTerminal = false;
  Environment environment;
};

// Runs one transfer on the window's engine. Local-file errors are raised
// (EFOpenError, EFCreateError, ...); RunMain turns them into exit code 2.
int RunTransfer(const Options& options, std::ostream& log);

// Whole command line (without the program name): parse, run, map errors to
// exit codes. The socket layer must already be started.
int RunMain(const std::vector<std::string>& args, RunContext& context);
int RunMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// What both program entries run: the stop handlers and the socket layer
// around RunMain on the standard streams, and any error that still escapes
// (the socket layer failing to start, say) as a failed run with its message.
int RunProgram(const std::vector<std::string>& args);

}  // namespace tarnwick::cli
