// Shared by the command line engine's interop tests: in-memory files for the
// engine, one call that runs a batch of transfers through TransferDriver,
// and the two real servers behind one small interface.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tftp/ClientTransfer.h"

namespace tarnwick::testing_support {

class MemorySink : public tftp::FileSink {
 public:
  bool Write(std::string_view bytes) override {
    bytes_.append(bytes.data(), bytes.size());
    return true;
  }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

class MemorySource : public tftp::FileSource {
 public:
  explicit MemorySource(const std::string& bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  long long Read(std::uint64_t offset, char* out, std::size_t length) override;

 private:
  const std::string& bytes_;
};

// One transfer to run: a get fills `got`, a put sends `put`.
struct TransferJob {
  tftp::TransferRequest request;
  std::string put;
  std::string got;
  tftp::TransferOutcome outcome;
};

// Runs every job at once on one driver against 127.0.0.1:port.
void RunTransfers(std::uint16_t port, std::vector<TransferJob>& jobs);

// Request with the engine's waits shortened for loopback: a lost datagram
// costs 100 ms, not a second.
tftp::TransferRequest LoopbackRequest(tftp::TransferKind kind, const std::string& name);

enum class ServerKind { TftpdHpa, Atftpd };
const char* ServerName(ServerKind kind);

// Either real server, started on construction.
class RealServer {
 public:
  virtual ~RealServer() = default;
  virtual const std::string& Unavailable() const = 0;
  virtual std::uint16_t Port() const = 0;
  virtual void WriteFile(const std::string& name, const std::string& bytes) const = 0;
  virtual std::string ReadFile(const std::string& name) const = 0;
  // The uploaded file once it has reached `size` bytes (bounded wait): a
  // server may store the last block after acknowledging it.
  std::string ReadUpload(const std::string& name, std::size_t size) const;
};
std::unique_ptr<RealServer> StartServer(ServerKind kind);

}  // namespace tarnwick::testing_support
