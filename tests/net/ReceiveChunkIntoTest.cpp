// ReceiveChunkInto gives what ReceiveChunk gives, into the caller's string:
// the same bytes, error codes and PendingInput handling, reusing the
// string's room instead of handing out a new one.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "NetTestPeers.h"
#include "net/SocketError.h"
#include "net/UdpBlockSocket.h"

namespace tarnwick {
namespace {

using test::LoopbackUdpPeer;

class ChunkInto : public ::testing::Test {
 protected:
  void SetUp() override {
    udp.ConnectTo("127.0.0.1", peer.PortText());
    ASSERT_EQ(udp.SendText("hello"), 5);
    std::string got;
    ASSERT_TRUE(peer.Receive(got, 2000));
  }
  void Queue(const std::string& datagram) {
    peer.Reply(datagram);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  LoopbackUdpPeer peer{"127.0.0.1"};
  TUDPBlockSocket udp;
};

TEST_F(ChunkInto, DatagramSizesAroundTheBlockAndTheStringsRoom) {
  // The caller's string holds stale bytes and more room than most rows need.
  std::string chunk(600, 'z');
  const std::size_t sizes[] = {0, 1, 4, 511, 512, 516, 517, 600, 601, 8192};
  for (std::size_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string datagram(size, static_cast<char>('a' + size % 26));
    Queue(datagram);
    const std::size_t room = chunk.capacity();
    const char* storage = chunk.data();
    udp.ReceiveChunkInto(2000, chunk);
    EXPECT_EQ(udp.LastSocketError, 0);
    EXPECT_EQ(chunk, datagram);
    if (size <= room) {
      EXPECT_EQ(chunk.data(), storage) << "fits: the string's own room is reused";
    }
    EXPECT_EQ(udp.RemotePortNumber(), peer.Port());
  }
}

TEST_F(ChunkInto, PendingInputIsHandedOutWithoutWaiting) {
  udp.PendingInput = "left over";
  std::string chunk = "stale";
  const auto start = std::chrono::steady_clock::now();
  udp.ReceiveChunkInto(5000, chunk);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(chunk, "left over");
  EXPECT_EQ(udp.LastSocketError, 0);
  EXPECT_TRUE(udp.PendingInput.empty());
  // Next call goes to the socket again.
  Queue("fresh");
  udp.ReceiveChunkInto(2000, chunk);
  EXPECT_EQ(chunk, "fresh");
}

TEST_F(ChunkInto, FailuresLeaveTheStringEmptyWithTheSameCodeAsReceiveChunk) {
  struct Row {
    int timeout;
  } rows[] = {{0}, {1}, {50}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.timeout);
    std::string chunk = "stale bytes from an earlier block";
    udp.ReceiveChunkInto(r.timeout, chunk);
    EXPECT_EQ(udp.LastSocketError, kErrorTimedOut);
    EXPECT_EQ(udp.LastSocketErrorText, GetErrorDesc(kErrorTimedOut));
    EXPECT_TRUE(chunk.empty());
    EXPECT_EQ(udp.ReceiveChunk(r.timeout), "");
    EXPECT_EQ(udp.LastSocketError, kErrorTimedOut);
  }
}

TEST_F(ChunkInto, OneDatagramPerCallInOrder) {
  Queue("first");
  Queue("second-longer");
  Queue("");
  std::string chunk;
  const char* expected[] = {"first", "second-longer", ""};
  for (const char* e : expected) {
    SCOPED_TRACE(e);
    udp.ReceiveChunkInto(2000, chunk);
    EXPECT_EQ(udp.LastSocketError, 0);
    EXPECT_EQ(chunk, e);
  }
  udp.ReceiveChunkInto(0, chunk);
  EXPECT_EQ(udp.LastSocketError, kErrorTimedOut);
}

}  // namespace
}  // namespace tarnwick
