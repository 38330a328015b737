// Heap allocations of the engine's per-block work: once a transfer is under
// way, one DATA/ACK exchange allocates nothing, in either direction, for
// every block size up to a full block; a whole send costs the same number
// of allocations whatever the number of blocks.
#include <gtest/gtest.h>

#include <string>

#include "../net/AllocationCounter.h"
#include "ClientTransferHarness.h"
#include "EngineTestSupport.h"
#include "tftp/ServerTransfer.h"

namespace tarnwick::testing_support {
namespace {

using EngineAllocation = EngineTest;

// The engine's socket has sent once, so the peer knows where to answer,
// and received once, so its receive buffer (kept for the socket's life)
// exists and the peer is its remote address.
void Introduce(TTFTPSend& engine, ScriptedPeer& peer) {
  engine.UdpSocket.ConnectTo("127.0.0.1", std::to_string(peer.Port()));
  engine.UdpSocket.SendText("hello");
  ASSERT_TRUE(peer.Receive(3000).has_value());
  peer.Reply("x");
  ASSERT_EQ(engine.UdpSocket.ReceiveChunk(3000), "x");
}

TEST_F(EngineAllocation, GetPacketPerBlockAllocatesNothing) {
  Introduce(engine, peer);
  const std::size_t sizes[] = {0, 1, 4, 511, 512};
  std::string data;
  data.reserve(512);
  std::uint16_t block = 1;
  for (std::size_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string bytes = Pattern(size, static_cast<unsigned>(size) + 1);
    const int rounds = 4;
    // All DATA packets queue up first: the engine waits, receives, answers.
    for (int i = 0; i < rounds; ++i) peer.SendTo(engine.UdpSocket.LocalPortNumber(), Data(block + i, bytes));
    std::size_t allocations = 0;
    for (int i = 0; i < rounds; ++i) {
      test::AllocationWindow window;
      const bool ok = engine.GetPacket(block, data);
      allocations += window.Count();
      ASSERT_TRUE(ok);
      ASSERT_EQ(data, bytes);
      block = static_cast<std::uint16_t>(block + 1);
    }
    EXPECT_EQ(allocations, 0u);
    for (int i = 0; i < rounds; ++i) {
      auto ack = peer.Receive(3000);
      ASSERT_TRUE(ack.has_value());
      EXPECT_EQ(*ack, Ack(static_cast<std::uint16_t>(block - rounds + i)));
    }
  }
  engine.UdpSocket.CloseEndpoint();
}

TEST_F(EngineAllocation, PutPacketPerBlockAllocatesNothing) {
  Introduce(engine, peer);
  const std::size_t sizes[] = {0, 1, 511, 512};
  std::uint16_t block = 65534;  // across the wrap as well
  for (std::size_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string bytes = Pattern(size, 7);
    const int rounds = 3;
    for (int i = 0; i < rounds; ++i) {
      peer.SendTo(engine.UdpSocket.LocalPortNumber(), Ack(static_cast<std::uint16_t>(block + i)));
    }
    std::size_t allocations = 0;
    for (int i = 0; i < rounds; ++i) {
      test::AllocationWindow window;
      const bool ok = engine.PutPacket(3, block, bytes);
      allocations += window.Count();
      ASSERT_TRUE(ok);
      block = static_cast<std::uint16_t>(block + 1);
    }
    EXPECT_EQ(allocations, 0u);
    for (int i = 0; i < rounds; ++i) {
      auto packet = peer.Receive(3000);
      ASSERT_TRUE(packet.has_value());
      EXPECT_EQ(*packet, Data(static_cast<std::uint16_t>(block - rounds + i), bytes));
    }
  }
  engine.UdpSocket.CloseEndpoint();
}

TEST_F(EngineAllocation, WholeSendCostsTheSameForAnyNumberOfBlocks) {
  // 1, 2 and 41 DATA blocks: any difference would be a per-block cost. The
  // first row warms up what the socket keeps for its whole life.
  const std::size_t sizes[] = {0, 0, 512, 20 * 512 + 300};
  std::size_t counts[4] = {0, 0, 0, 0};
  for (int row = 0; row < 4; ++row) {
    SCOPED_TRACE(sizes[row]);
    SetContent(Pattern(sizes[row], 3));
    const std::size_t blocks = sizes[row] / 512 + 1;
    bool ok = Run(
        [&] {
          test::AllocationWindow window;
          const bool result = engine.PutFile("config");
          counts[row] = window.Count();
          return result;
        },
        [&](ScriptedPeer& p) {
          Expect(p);
          p.Reply(Ack(0));
          for (std::size_t b = 1; b <= blocks; ++b) {
            Expect(p);
            p.Reply(Ack(static_cast<std::uint16_t>(b)));
          }
        });
    ASSERT_TRUE(ok);
  }
  EXPECT_EQ(counts[2], counts[1]);
  EXPECT_EQ(counts[3], counts[1]);
}

// The command line's engine against a server that never ends its file: past
// the first blocks a get allocates nothing, across three wraps of the block
// number, so its memory stays flat.
TEST(ClientTransferAllocation, EndlessServerKeepsMemoryFlat) {
  PatternSink sink;  // counts, stores nothing
  Harness h(TransferRequest(), &sink, nullptr);
  h.Start();
  std::string data = DataPacket(0, std::string(512, 'x'));
  std::size_t allocations = 0;
  for (std::uint64_t k = 1; k <= 200000; ++k) {
    data[2] = static_cast<char>((k >> 8) & 0xFF);
    data[3] = static_cast<char>(k & 0xFF);
    test::AllocationWindow window;
    h.transfer.OnDatagram(V4(1, 40000), data, h.now, h.out);
    if (k > 2) allocations += window.Count();
    ASSERT_EQ(h.out.Count(), 1u);
    h.out.Clear();
  }
  EXPECT_EQ(allocations, 0u);
  EXPECT_EQ(sink.size, 200000u * 512);
}

// The server sending a file in windows: once under way, an ACK and the
// window it releases allocate nothing, across the block-number wrap.
TEST(ClientTransferAllocation, ServerSendingAllocatesNothingPerWindow) {
  PatternSource file(std::uint64_t{70000} * 512);
  tftp::ServerSetup setup;
  setup.agreed.windowSize = 4;
  setup.oack = OackPacket({{"windowsize", "4"}});
  tftp::ServerTransfer transfer(V4(7, 50000), setup, &file);
  Outbox out;
  const TimePoint now{};
  transfer.Start(now, out);
  out.Clear();
  std::size_t allocations = 0;
  std::string ack = AckPacket(0);
  for (std::uint64_t acked = 0; acked < 69990; acked += 4) {
    ack[2] = static_cast<char>((acked >> 8) & 0xFF);
    ack[3] = static_cast<char>(acked & 0xFF);
    test::AllocationWindow window;
    transfer.OnDatagram(V4(7, 50000), ack, now, out);
    if (acked > 8) allocations += window.Count();
    ASSERT_EQ(out.Count(), 4u);
    out.Clear();
  }
  EXPECT_EQ(allocations, 0u);
}

}  // namespace
}  // namespace tarnwick::testing_support
