// One case per rule of the server's side of a transfer, scripted packet by
// packet on a fake clock: the opening moves, the block-number wrap, strangers,
// the amplification bound, ACKs for blocks never sent, duplicate requests.
#include <gtest/gtest.h>

#include "ClientTransferHarness.h"
#include "tftp/ServerTransfer.h"

namespace tarnwick::testing_support {
namespace {

using tftp::ServerSetup;
using tftp::ServerTransfer;

const SocketAddress kClient = V4(7, 50000);
const SocketAddress kStranger = V4(7, 50001);

struct ServerHarness {
  ServerHarness(ServerSetup setup, tftp::FileSource* source) : transfer(kClient, std::move(setup), source) {}
  ServerHarness(ServerSetup setup, tftp::FileSink* sink) : transfer(kClient, std::move(setup), sink) {}
  std::vector<std::string> Take() {
    std::vector<std::string> sent;
    for (std::size_t i = 0; i < out.Count(); ++i) {
      EXPECT_TRUE(SameEndpoint(out[i].to, kClient) || SameEndpoint(out[i].to, kStranger));
      sent.push_back(out[i].Whole());
    }
    out.Clear();
    return sent;
  }
  std::vector<std::string> Start() {
    transfer.Start(now, out);
    return Take();
  }
  std::vector<std::string> Feed(const std::string& packet, const SocketAddress& from = kClient) {
    transfer.OnDatagram(from, packet, now, out);
    return Take();
  }
  std::vector<std::string> Expire() {
    if (transfer.Deadline() == TimePoint::max()) return {};
    now = transfer.Deadline();
    transfer.OnTimer(now, out);
    return Take();
  }
  ServerTransfer transfer;
  Outbox out;
  TimePoint now = TimePoint() + std::chrono::hours(1);
};

using Sent = std::vector<std::string>;

ServerSetup Options(std::uint32_t blksize, std::uint32_t window, std::string oack) {
  ServerSetup s;
  s.agreed.blockSize = blksize;
  s.agreed.windowSize = window;
  s.agreed.negotiated = !oack.empty();
  s.oack = std::move(oack);
  return s;
}

TEST(ServerTransferRules, OpeningMovesOfEachRequest) {
  const std::string oack = OackPacket({{"blksize", "8"}});
  {  // RRQ without options: DATA 1 at once; a 512-byte file ends with an empty block.
    MemorySource file(std::string(512, 'a'));
    ServerHarness h(ServerSetup(), &file);
    EXPECT_EQ(h.Start(), Sent{DataPacket(1, std::string(512, 'a'))});
    EXPECT_EQ(h.Feed(AckPacket(1)), Sent{DataPacket(2, "")});
    EXPECT_TRUE(h.Feed(AckPacket(2)).empty());
    EXPECT_EQ(h.transfer.Outcome().state, TransferState::Succeeded);
  }
  {  // RRQ with options: the OACK, then DATA 1 only after ACK 0.
    MemorySource file("0123456789");
    ServerHarness h(Options(8, 1, oack), &file);
    EXPECT_EQ(h.Start(), Sent{oack});
    EXPECT_TRUE(h.Feed(AckPacket(1)).empty());  // not an answer to the OACK
    EXPECT_EQ(h.Feed(AckPacket(0)), Sent{DataPacket(1, "01234567")});
  }
  {  // WRQ without options: ACK 0; the last block is flushed before its ACK.
    MemorySink sink;
    ServerHarness h(ServerSetup(), &sink);
    EXPECT_EQ(h.Start(), Sent{AckPacket(0)});
    sink.flushFails = true;
    EXPECT_EQ(h.Feed(DataPacket(1, "abc")), Sent{ErrorPacket(3, "Disk full or allocation exceeded")});
    EXPECT_EQ(h.transfer.Outcome().state, TransferState::Failed);
  }
  {  // WRQ with options: the OACK, then the client's DATA 1.
    MemorySink sink;
    ServerHarness h(Options(8, 1, oack), &sink);
    EXPECT_EQ(h.Start(), Sent{oack});
    EXPECT_EQ(h.Feed(DataPacket(1, "abc")), Sent{AckPacket(1)});
    EXPECT_EQ(h.transfer.Outcome().state, TransferState::Succeeded);
    EXPECT_EQ(sink.data, "abc");
  }
}

TEST(ServerTransferRules, BlockNumbersWrapPast65535BothWays) {
  const std::uint64_t size = 65537ull * 8 + 3;  // blocks 1..65538: the numbers wrap to 0, 1, 2
  for (const bool lend : {false, true}) {  // the payload copied into the datagram, or lent
    SCOPED_TRACE(lend ? "lent" : "copied");
    PatternSource file(size);
    file.lend = lend;
    ServerHarness read(Options(8, 4, OackPacket({{"blksize", "8"}, {"windowsize", "4"}})), &file);
    read.Start();
    Sent sent = read.Feed(AckPacket(0));
    std::uint64_t acked = 0, wrong = 0;
    std::string expected;
    while (!read.transfer.Finished() && !sent.empty()) {
      for (const std::string& d : sent) {  // every DATA whole: its number and bytes, the short last one too
        const std::uint64_t block = acked + 1 + (&d - sent.data());
        expected.resize(static_cast<std::size_t>(std::min<std::uint64_t>(8, size - (block - 1) * 8)));
        FillPattern((block - 1) * 8, expected.data(), expected.size());
        wrong += d != DataPacket(static_cast<std::uint16_t>(block), expected);
      }
      acked += sent.size();
      sent = read.Feed(AckPacket(static_cast<std::uint16_t>(acked)));
    }
    EXPECT_EQ(read.transfer.Outcome().state, TransferState::Succeeded);
    EXPECT_EQ(read.transfer.Outcome().bytes, size);
    EXPECT_EQ(acked, 65538u);
    EXPECT_EQ(wrong, 0u);
  }

  PatternSink sink;
  ServerHarness write(Options(8, 1, ""), &sink);
  write.Start();
  std::string block(8, '\0');
  for (std::uint64_t b = 1; b <= 65538; ++b) {
    const std::size_t n = b == 65538 ? 3 : 8;
    FillPattern((b - 1) * 8, block.data(), n);
    ASSERT_EQ(write.Feed(DataPacket(static_cast<std::uint16_t>(b), block.substr(0, n))),
              Sent{AckPacket(static_cast<std::uint16_t>(b))});
  }
  EXPECT_EQ(write.transfer.Outcome().state, TransferState::Succeeded);
  EXPECT_EQ(sink.size, size);
  EXPECT_EQ(sink.mismatches, 0u);
}

TEST(ServerTransferRules, StrangerGetsError5AndForgedErrorsAreIgnored) {
  MemorySource file(std::string(600, 'b'));
  ServerHarness h(ServerSetup(), &file);
  h.Start();
  EXPECT_EQ(h.Feed(AckPacket(1), kStranger), Sent{ErrorPacket(5, "Unknown transfer ID")});
  EXPECT_TRUE(h.Feed(ErrorPacket(0, "forged"), kStranger).empty());
  EXPECT_FALSE(h.transfer.Finished());
  EXPECT_EQ(h.Feed(AckPacket(1)), Sent{DataPacket(2, std::string(88, 'b'))});
}

TEST(ServerTransferRules, NoAnswerMeansTwoDatagramsAtMost) {
  const std::string oack = OackPacket({{"blksize", "1428"}});
  for (bool viaRequest : {false, true}) {
    SCOPED_TRACE(viaRequest);
    MemorySource file(std::string(5000, 'c'));
    ServerHarness h(Options(1428, 16, oack), &file);
    std::size_t sent = h.Start().size();
    // A forged client re-sends its request, and nobody ever answers.
    for (int i = 0; i < 5 && viaRequest; ++i) {
      h.transfer.OnRepeatedRequest(h.now, h.out);
      sent += h.Take().size();
    }
    for (int i = 0; i < 10 && !h.transfer.Finished(); ++i) sent += h.Expire().size();
    EXPECT_EQ(sent, 2u);
    EXPECT_EQ(h.transfer.Outcome().state, TransferState::Failed);
  }
}

TEST(ServerTransferRules, AckForTheFutureSendsNothing) {
  MemorySource file(std::string(4000, 'd'));
  ServerHarness h(Options(512, 2, ""), &file);
  EXPECT_EQ(h.Start().size(), 1u);  // before the client answered: one block, not a window
  EXPECT_EQ(h.Feed(AckPacket(1)).size(), 2u);
  EXPECT_TRUE(h.Feed(AckPacket(9)).empty());
  EXPECT_TRUE(h.Feed(AckPacket(1)).empty());  // a repeat never resends either
  EXPECT_EQ(h.Feed(AckPacket(3)).size(), 2u);
}

TEST(ServerTransferRules, DuplicateWrqIsARetryNotASecondUpload) {
  MemorySink sink;
  ServerHarness h(ServerSetup(), &sink);
  EXPECT_EQ(h.Start(), Sent{AckPacket(0)});
  h.transfer.OnRepeatedRequest(h.now, h.out);
  EXPECT_EQ(h.Take(), Sent{AckPacket(0)});  // our ACK 0 was lost: it goes again
  EXPECT_EQ(h.Feed(DataPacket(1, std::string(512, 'e'))), Sent{AckPacket(1)});
  h.transfer.OnRepeatedRequest(h.now, h.out);  // a stale copy once data flows: nothing
  EXPECT_TRUE(h.Take().empty());
  EXPECT_EQ(h.Feed(DataPacket(2, "end")), Sent{AckPacket(2)});
  EXPECT_EQ(sink.data, std::string(512, 'e') + "end");
}

}  // namespace
}  // namespace tarnwick::testing_support
