// The real engine behind the operations: TTFTPSend, with the device's
// error text handed on exactly as received (CP932 bytes).
#pragma once

#include <memory>
#include <string>

#include "app/TransferOperations.h"
#include "base/FileReplace.h"
#include "tftp/TFTPSend.h"

namespace tarnwick {

class TftpTransferEngine : public ITransferEngine {
 public:
  TftpTransferEngine() = default;
  void SetServerHost(const std::string& host) override { tftp_.ServerHost = host; }
  std::string ServerHost() const override { return tftp_.ServerHost; }
  void SetServerPort(const std::string& port) override { tftp_.ServerPort = port; }
  std::string ServerPort() const override { return tftp_.ServerPort; }
  bool GetFile(const std::string& wireName) override { return tftp_.GetFile(wireName); }
  bool PutFile(const std::string& wireName) override { return tftp_.PutFile(wireName); }
  // Never cuts the file that was there: see SaveStreamReplacing.
  void SaveContentToFile(const std::string& path) override { SaveStreamReplacing(path, tftp_.Content); }
  void LoadContentFromFile(const std::string& path) override { tftp_.Content.LoadFromFile(path); }
  std::int32_t PeerErrorCode() const override { return tftp_.PeerErrorCode; }
  std::string PeerErrorBytes() const override { return tftp_.PeerErrorText; }

  TTFTPSend& Engine() noexcept { return tftp_; }

 private:
  TTFTPSend tftp_;
};

inline EngineFactory TftpEngineFactory() {
  return [] { return std::unique_ptr<ITransferEngine>(new TftpTransferEngine()); };
}

}  // namespace tarnwick
