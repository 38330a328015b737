// Feeds arbitrary datagrams, repeated requests and time-outs to a server
// transfer in each direction, with and without an OACK. Checks the
// promises: no read past a datagram, a finished transfer stays quiet (bar
// the ACK a finished upload repeats), a failure has a reason, and until the
// client has moved the transfer on, no more than two datagrams reach it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "TransferFuzzParts.h"
#include "tftp/ServerTransfer.h"

namespace {
using namespace tarnwick;
using fuzz::CountingSink;
using fuzz::Require;
using fuzz::ZeroSource;

void RunTransfer(bool read, bool oack, std::string_view input) {
  tftp::ServerSetup setup;
  setup.agreed.blockSize = 16;
  setup.agreed.windowSize = 3;
  if (oack)
    setup.oack = std::string(
        "\0\6blksize\0"
        "16\0windowsize\0"
        "3\0",
        25);
  CountingSink sink;
  ZeroSource source;
  tftp::ServerTransfer transfer = read ? tftp::ServerTransfer(fuzz::LoopbackPeer(4000), setup, &source)
                                       : tftp::ServerTransfer(fuzz::LoopbackPeer(4000), setup, &sink);
  tftp::Outbox out;
  tftp::TimePoint now{};
  transfer.Start(now, out);
  // Datagrams the server sent of its own accord (its opening, time-outs,
  // repeated requests) before any datagram of the client drew an answer.
  std::size_t unprompted = out.Count();
  bool answered = false;
  out.Clear();
  fuzz::ForEachDatagram(input, [&](unsigned char selector, const std::string& datagram) {
    const bool wasFinished = transfer.Finished();
    const std::uint64_t before = transfer.Outcome().bytes;
    bool prompted = false;
    if (selector % 8 == 7) {
      now = transfer.Deadline() == tftp::TimePoint::max() ? now : transfer.Deadline();
      transfer.OnTimer(now, out);
    } else if (selector % 8 == 5) {
      transfer.OnRepeatedRequest(now, out);
    } else {
      transfer.OnDatagram(fuzz::LoopbackPeer(selector % 8 == 6 ? 1234 : 4000), datagram, now, out);
      prompted = true;
      answered = answered || (selector % 8 != 6 && (out.Count() > 0 || transfer.Outcome().bytes != before));
    }
    if (wasFinished) {
      Require(out.Count() == 0 ||
              (out.Count() == 1 && transfer.Lingering() && out[0].bytes.size() == 4 && out[0].bytes[1] == 4));
    }
    for (std::size_t i = 0; i < out.Count(); ++i) {
      Require(out[i].bytes.size() >= 2 && out[i].bytes.size() <= 65468);
      if (!prompted && !answered) ++unprompted;
    }
    out.Clear();
    Require(unprompted <= 2);
    if (transfer.Outcome().state == tftp::TransferState::Failed) Require(!transfer.Outcome().reason.empty());
  });
  if (!read) Require(sink.size == transfer.Outcome().bytes);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  for (bool read : {true, false})
    for (bool oack : {true, false}) RunTransfer(read, oack, input);
  return 0;
}
