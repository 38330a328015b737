// Not a test: drives the command line's engine in-process for a 32 MiB get
// and a 32 MiB put at 512-byte lock step, so that the instructions per block
// can be counted with
//   valgrind --tool=callgrind
//     --toggle-collect='tarnwick::tftp::ClientTransfer::OnDatagram*' tftp_client_transfer_bench
// The counterpart here is as small as it can be (one reused datagram per
// block), so what is counted is the engine's own work.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "tftp/ClientTransfer.h"

namespace {

using namespace tarnwick;

constexpr std::uint64_t kFileSize = 32ull << 20;

class NullSink : public tftp::FileSink {
 public:
  bool Write(std::string_view bytes) override {
    size += bytes.size();
    return true;
  }
  std::uint64_t size = 0;
};

class UntouchedSource : public tftp::FileSource {
 public:
  std::uint64_t Size() const override { return kFileSize; }
  // Bytes left as the buffer has them: a real read costs the file system's
  // work, not the engine's.
  long long Read(std::uint64_t offset, char*, std::size_t length) override {
    return static_cast<long long>(std::min<std::uint64_t>(length, kFileSize - offset));
  }
};

SocketAddress Address(std::uint16_t port) {
  SocketAddress a{};
  a.family = kFamilyIPv4;
  a.port = port;
  a.rest[0] = 192;
  a.rest[3] = 1;
  return a;
}

std::uint64_t Get() {
  tftp::TransferRequest request;
  request.remoteName = "bench";
  NullSink sink;
  tftp::ClientTransfer transfer(request, Address(69), &sink, nullptr);
  tftp::Outbox out;
  const tftp::TimePoint now{};
  transfer.Start(now, out);
  out.Clear();
  std::string data(4 + 512, '\0');
  data[1] = 3;
  const SocketAddress peer = Address(4000);
  std::uint64_t blocks = 0;
  for (std::uint64_t k = 1; !transfer.Finished(); ++k) {
    data[2] = static_cast<char>(k >> 8);
    data[3] = static_cast<char>(k);
    if (k == kFileSize / 512 + 1) data.resize(4);
    transfer.OnDatagram(peer, data, now, out);
    out.Clear();
    ++blocks;
  }
  return transfer.Outcome().state == tftp::TransferState::Succeeded ? blocks : 0;
}

std::uint64_t Put() {
  tftp::TransferRequest request;
  request.kind = tftp::TransferKind::Put;
  request.remoteName = "bench";
  UntouchedSource source;
  tftp::ClientTransfer transfer(request, Address(69), nullptr, &source);
  tftp::Outbox out;
  const tftp::TimePoint now{};
  transfer.Start(now, out);
  out.Clear();
  char ack[4] = {0, 4, 0, 0};
  const SocketAddress peer = Address(4000);
  std::uint64_t blocks = 0;
  for (std::uint64_t k = 0; !transfer.Finished(); ++k) {
    ack[2] = static_cast<char>(k >> 8);
    ack[3] = static_cast<char>(k);
    transfer.OnDatagram(peer, std::string_view(ack, 4), now, out);
    out.Clear();
    ++blocks;
  }
  return transfer.Outcome().state == tftp::TransferState::Succeeded ? blocks : 0;
}

}  // namespace

int main() {
  const auto start = std::chrono::steady_clock::now();
  const std::uint64_t got = Get();
  const std::uint64_t put = Put();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  std::printf("get: %llu datagrams, put: %llu datagrams, %lld ms\n", static_cast<unsigned long long>(got),
              static_cast<unsigned long long>(put), static_cast<long long>(ms));
  return got && put ? 0 : 1;
}
