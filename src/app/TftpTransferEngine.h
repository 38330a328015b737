// The real engine behind the operations: TTFTPSend, with the text
// conversions between the window (UTF-8) and the wire (CP932).
#pragma once

#include <memory>
#include <string>

#include "app/TransferOperations.h"
#include "base/Exception.h"
#include "tftp/TFTPSend.h"

namespace tarnwick {

// A remote name that CP932 cannot carry. Sending a guessed approximation
// could reach the wrong file on the device, so the operation stops instead.
class EConvertError : public Exception {
 public:
  explicit EConvertError(std::string message) : Exception("EConvertError", std::move(message)) {}
};

// The name as CP932 bytes for the request; raises EConvertError when it
// holds a character CP932 lacks.
std::string RemoteNameBytes(const std::string& utf8Name);

class TftpTransferEngine : public ITransferEngine {
 public:
  TftpTransferEngine() = default;
  void SetServerHost(const std::string& host) override { tftp_.ServerHost = host; }
  std::string ServerHost() const override { return tftp_.ServerHost; }
  void SetServerPort(const std::string& port) override { tftp_.ServerPort = port; }
  std::string ServerPort() const override { return tftp_.ServerPort; }
  bool GetFile(const std::string& remoteName) override { return tftp_.GetFile(RemoteNameBytes(remoteName)); }
  bool PutFile(const std::string& remoteName) override { return tftp_.PutFile(RemoteNameBytes(remoteName)); }
  void SaveContentToFile(const std::string& path) override { tftp_.Content.SaveToFile(path); }
  void LoadContentFromFile(const std::string& path) override { tftp_.Content.LoadFromFile(path); }
  std::int32_t PeerErrorCode() const override { return tftp_.PeerErrorCode; }
  // The device speaks CP932; undecodable bytes show as replacement marks.
  std::string PeerErrorText() const override;

  TTFTPSend& Engine() noexcept { return tftp_; }

 private:
  TTFTPSend tftp_;
};

inline EngineFactory TftpEngineFactory() {
  return [] { return std::unique_ptr<ITransferEngine>(new TftpTransferEngine()); };
}

}  // namespace tarnwick
