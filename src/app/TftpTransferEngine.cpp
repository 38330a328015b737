#include "app/TftpTransferEngine.h"

#include "base/TextCodec.h"

namespace tarnwick {

std::string TftpTransferEngine::PeerErrorText() const { return Cp932ToUtf8(tftp_.PeerErrorText); }

}  // namespace tarnwick
