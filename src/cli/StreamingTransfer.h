// tarnwick-cli on its own engine: one ClientTransfer run by a TransferDriver,
// the file streamed through DownloadFile / UploadFile, the window's work-log
// lines around it, a progress line on a terminal, the --json report, and a
// clean stop on Ctrl+C / SIGTERM.
#pragma once

#include "cli/CliOptions.h"
#include "cli/CliTransfer.h"
#include "tftp/ClientTransfer.h"

namespace tarnwick::cli {

// The engine's request for these options: only the options asked for.
tftp::TransferRequest BuildRequest(const Options& options, std::string wireName);

// Local-file and name errors are raised, as in RunTransfer.
int RunStreamingTransfer(const Options& options, RunContext& context);

}  // namespace tarnwick::cli
