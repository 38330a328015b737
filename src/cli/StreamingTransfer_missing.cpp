// Built instead of StreamingTransfer.cpp while the tree holds the streaming
// engine's interface but not its implementation: the default engine is then
// refused as a usage error that names the way out.
#include "cli/StreamingTransfer.h"
#include "cli/TransferText.h"

namespace tarnwick::cli {

tftp::TransferRequest BuildRequest(const Options&, std::string wireName) {
  tftp::TransferRequest r;
  r.remoteName = std::move(wireName);
  return r;
}

int RunStreamingTransfer(const Options&, RunContext&) {
  throw UsageError("this build has no streaming engine; use --engine window");
}

}  // namespace tarnwick::cli
