// The per-datagram cost of ReceiveChunk on the direct UDP path: once the
// socket has received its first datagram, a chunk allocates nothing beyond
// the string it returns (none at all for payloads that fit in the string
// itself).
#include <gtest/gtest.h>

#include <string>

#include "AllocationCounter.h"
#include "NetTestPeers.h"
#include "net/UdpBlockSocket.h"

namespace tarnwick {
namespace {

TEST(UdpChunkAllocation, OnlyTheReturnedStringIsAllocated) {
  test::LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  udp.ConnectTo("127.0.0.1", peer.PortText());
  udp.SendText("x");
  std::string got;
  ASSERT_TRUE(peer.Receive(got, 2000));
  peer.Reply("warm-up");
  ASSERT_EQ(udp.ReceiveChunk(2000), "warm-up");  // the reusable buffer exists now

  struct Row {
    std::size_t size;
    std::size_t allowed;  // heap blocks per chunk
  } rows[] = {{4, 0}, {516, 1}, {8192, 1}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.size);
    const std::string payload(r.size, 'p');
    for (int i = 0; i < 8; ++i) peer.Reply(payload);
    std::size_t blocks = 0;
    for (int i = 0; i < 8; ++i) {
      test::AllocationWindow window;
      std::string chunk = udp.ReceiveChunk(2000);
      blocks += window.Count();
      ASSERT_EQ(chunk.size(), r.size);
      ASSERT_EQ(udp.LastSocketError, 0);
    }
    EXPECT_EQ(blocks, 8 * r.allowed);
  }
}

}  // namespace
}  // namespace tarnwick
