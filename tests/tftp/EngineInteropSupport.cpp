#include "EngineInteropSupport.h"

#include <unistd.h>

#include <cstring>

#include "AtftpdServer.h"
#include "TftpdServer.h"
#include "tftp/TransferDriver.h"

namespace tarnwick::testing_support {

long long MemorySource::Read(std::uint64_t offset, char* out, std::size_t length) {
  if (offset >= bytes_.size()) return 0;
  const std::size_t n = std::min<std::size_t>(length, bytes_.size() - static_cast<std::size_t>(offset));
  std::memcpy(out, bytes_.data() + offset, n);
  return static_cast<long long>(n);
}

tftp::TransferRequest LoopbackRequest(tftp::TransferKind kind, const std::string& name) {
  tftp::TransferRequest r;
  r.kind = kind;
  r.remoteName = name;
  r.wait = std::chrono::milliseconds(100);
  r.maxWait = std::chrono::milliseconds(400);
  r.retries = 8;
  return r;
}

void RunTransfers(std::uint16_t port, std::vector<TransferJob>& jobs) {
  const SocketAddress server = tftp::ResolveServer("127.0.0.1", std::to_string(port));
  std::vector<MemorySink> sinks(jobs.size());
  std::vector<std::unique_ptr<MemorySource>> sources;
  std::vector<std::unique_ptr<tftp::ClientTransfer>> transfers;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    sources.push_back(std::make_unique<MemorySource>(jobs[i].put));
    const bool get = jobs[i].request.kind == tftp::TransferKind::Get;
    transfers.push_back(std::make_unique<tftp::ClientTransfer>(
        jobs[i].request, server, get ? &sinks[i] : nullptr, get ? nullptr : sources.back().get()));
  }
  tftp::TransferDriver driver;
  for (auto& t : transfers) driver.Add(*t);
  driver.Run();
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    jobs[i].outcome = transfers[i]->Outcome();
    jobs[i].got = sinks[i].Bytes();
  }
}

const char* ServerName(ServerKind kind) { return kind == ServerKind::Atftpd ? "atftpd" : "tftpd-hpa"; }

std::string RealServer::ReadUpload(const std::string& name, std::size_t size) const {
  std::string bytes = ReadFile(name);
  for (int waited = 0; bytes.size() < size && waited < 3000; waited += 20) {
    ::usleep(20000);
    bytes = ReadFile(name);
  }
  return bytes;
}

namespace {

template <class Server>
class Adapter : public RealServer {
 public:
  const std::string& Unavailable() const override { return server_.Unavailable(); }
  std::uint16_t Port() const override { return server_.Port(); }
  void WriteFile(const std::string& name, const std::string& bytes) const override {
    server_.WriteFile(name, bytes);
  }
  std::string ReadFile(const std::string& name) const override { return server_.ReadFile(name); }

 private:
  Server server_;
};

}  // namespace

std::unique_ptr<RealServer> StartServer(ServerKind kind) {
  if (kind == ServerKind::Atftpd) return std::make_unique<Adapter<AtftpdServer>>();
  return std::make_unique<Adapter<TftpdServer>>();
}

}  // namespace tarnwick::testing_support
