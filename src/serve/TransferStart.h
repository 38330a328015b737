// Everything a served request settles before its first packet: the file it
// reads (confined beneath ROOT, shared with other readers) or the upload it
// writes (checked, a private temporary file ready), and the options it
// runs with. A refusal here costs the client one ERROR and the server no
// transfer.
#pragma once

#include <memory>

#include "serve/Refusal.h"
#include "serve/RootTree.h"
#include "serve/ServerRequest.h"
#include "serve/UploadTarget.h"

namespace tarnwick::serve {

struct TransferStart {
  Refusal refusal;  // refused: the ERROR to send, and nothing below is set
  OptionAnswer answer;
  std::shared_ptr<const ServedFile> source;  // a read
  std::unique_ptr<UploadTarget> upload;      // a write
};

// tree: where reads come from (null: nothing is served for reading);
// uploads: the tree uploads go beneath (ROOT's own folder, --upload-dir or
// the push spool).
TransferStart StartTransfer(const ServerRequest& request, RootTree* tree, const RootFolder& uploads,
                            const UploadPolicy& policy, const ServerCaps& caps);

}  // namespace tarnwick::serve
