#include "app/TftpTransferEngine.h"

#include "base/TextCodec.h"

namespace tarnwick {

std::string RemoteNameBytes(const std::string& utf8Name) {
  std::optional<std::string> bytes = Utf8ToCp932(utf8Name);
  if (!bytes) throw EConvertError("ファイル名 " + utf8Name + " には送れない文字が含まれています");
  return *bytes;
}

std::string TftpTransferEngine::PeerErrorText() const { return Cp932ToUtf8(tftp_.PeerErrorText); }

}  // namespace tarnwick
