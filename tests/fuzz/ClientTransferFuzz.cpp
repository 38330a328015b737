// Feeds arbitrary datagrams to the command line's engine: the OACK reader
// and judge, and a running transfer in each direction that takes the input
// as a sequence of datagrams. Checks the promises: no read past a datagram,
// a finished transfer stays finished, a failure has a reason.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "TransferFuzzParts.h"
#include "tftp/ClientTransfer.h"
#include "tftp/TftpOptions.h"

namespace {
using namespace tarnwick;
using fuzz::CountingSink;
using fuzz::Require;
using fuzz::ZeroSource;

void RunTransfer(tftp::TransferKind kind, std::string_view input) {
  tftp::TransferRequest request;
  request.kind = kind;
  request.remoteName = "f";
  request.blockSize = 16;
  request.windowSize = 3;
  request.transferSize = true;
  request.timeoutSeconds = 2;
  CountingSink sink;
  ZeroSource source;
  tftp::ClientTransfer transfer(request, fuzz::LoopbackPeer(69), &sink, &source);
  tftp::Outbox out;
  tftp::TimePoint now{};
  transfer.Start(now, out);
  fuzz::ForEachDatagram(input, [&](unsigned char selector, const std::string& datagram) {
    const bool wasFinished = transfer.Finished();
    if (selector % 8 == 7) {
      now = transfer.Deadline() == tftp::TimePoint::max() ? now : transfer.Deadline();
      transfer.OnTimer(now, out);
    } else {
      transfer.OnDatagram(fuzz::LoopbackPeer(selector % 8 == 6 ? 1234 : 4000), datagram, now, out);
    }
    if (wasFinished) {
      Require(out.Count() == 0 ||
              (out.Count() == 1 && transfer.Lingering() && out[0].bytes.size() == 4 && out[0].bytes[1] == 4));
    }
    for (std::size_t i = 0; i < out.Count(); ++i)
      Require(out[i].bytes.size() >= 4 && out[i].bytes.size() <= 65468);
    out.Clear();
    if (transfer.Outcome().state == tftp::TransferState::Failed) Require(!transfer.Outcome().reason.empty());
  });
  if (kind == tftp::TransferKind::Get) Require(sink.size == transfer.Outcome().bytes);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string packet(reinterpret_cast<const char*>(data), size);

  tftp::OptionAsk ask;
  for (bool& a : ask.asked) a = true;
  ask.value[0] = 1428;
  ask.value[1] = 0;
  ask.value[2] = 3;
  ask.value[3] = 16;
  tftp::AgreedOptions agreed;
  std::string reason;
  if (tftp::AcceptOack(packet, ask, tftp::TransferKind::Get, agreed, reason)) {
    Require(reason.empty() && agreed.negotiated);
    Require(agreed.blockSize >= 8 && agreed.blockSize <= 1428);
    Require(agreed.windowSize >= 1 && agreed.windowSize <= 16);
    Require(!agreed.timeoutSeconds || *agreed.timeoutSeconds == 3);
  } else {
    Require(!reason.empty());
  }
  std::size_t pairs = 0;
  tftp::ForEachOackPair(packet, [&](std::string_view name, std::string_view value) {
    Require(name.find('\0') == std::string_view::npos && value.find('\0') == std::string_view::npos);
    ++pairs;
  });
  Require(pairs <= size / 2);
  std::uint64_t number = 0;
  if (tftp::ParseDecimal(packet, number)) Require(std::to_string(number).size() <= packet.size());

  RunTransfer(tftp::TransferKind::Get, packet);
  RunTransfer(tftp::TransferKind::Put, packet);
  return 0;
}
