// Stream operations of the block socket over a real loopback TCP
// connection: exact reads leaving a tail, line reads across chunks,
// counted data, peeking, filters and the closed-peer code.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/RequiredPeer.h"
#include "NetTestPeers.h"
#include "net/BlockSocket.h"
#include "net/SocketError.h"

namespace tarnwick {
namespace {

// The base class speaking TCP, without any proxy logic.
class StreamSocket : public TBlockSocket {
 public:
  int SocketKind() override { return 1; }
  int SocketProtocolNumber() override { return 6; }
};

class TcpTraffic : public ::testing::Test {
 protected:
  void SetUp() override {
    client.ConnectTo("127.0.0.1", server.PortText());
    ASSERT_EQ(client.LastSocketError, 0);
    ASSERT_TRUE(server.Accept(2000));
  }
  // Sends and gives the bytes time to arrive as one separate chunk.
  void Feed(const std::string& bytes) {
    ASSERT_EQ(server.Send(bytes), static_cast<int>(bytes.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  }
  test::LoopbackTcpListener server{"127.0.0.1"};
  StreamSocket client;
};

TEST_F(TcpTraffic, ConnectFillsBothAddresses) {
  EXPECT_EQ(client.RemoteAddressText(), "127.0.0.1");
  EXPECT_EQ(std::to_string(client.RemotePortNumber()), server.PortText());
  EXPECT_NE(client.LocalPortNumber(), 0);
  EXPECT_EQ(client.LocalAddressText(), "127.0.0.1");
}

TEST_F(TcpTraffic, ReceiveExactlyLeavesTailPending) {
  Feed("0123456789abcde");
  char buffer[10];
  EXPECT_EQ(client.ReceiveExactly(buffer, 10, 1000), 10);
  EXPECT_EQ(client.LastSocketError, 0);
  EXPECT_EQ(std::string(buffer, 10), "0123456789");
  EXPECT_EQ(client.PendingInput, "abcde");
  EXPECT_EQ(client.ReceiveChunk(0), "abcde") << "pending bytes come first, without waiting";
  EXPECT_EQ(client.PendingInput, "");
}

TEST_F(TcpTraffic, ReceiveExactlyAcrossChunksAndTimeout) {
  Feed("abc");
  std::thread later([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.Send("defg");
  });
  char buffer[6];
  EXPECT_EQ(client.ReceiveExactly(buffer, 6, 2000), 6);
  later.join();
  EXPECT_EQ(std::string(buffer, 6), "abcdef");
  EXPECT_EQ(client.PendingInput, "g");
  // Asking for more than will ever come: what arrived is counted, then 10060.
  EXPECT_EQ(client.ReceiveExactly(buffer, 6, 100), 1);
  EXPECT_EQ(client.LastSocketError, 10060);
}

TEST_F(TcpTraffic, ReceiveTextLengths) {
  EXPECT_EQ(client.ReceiveText(0, 1000), "");
  EXPECT_EQ(client.LastSocketError, 0) << "length 0 does not touch the socket";
  EXPECT_EQ(client.ReceiveText(-5, 1000), "");
  Feed("hello world");
  EXPECT_EQ(client.ReceiveText(5, 1000), "hello");
  EXPECT_EQ(client.ReceiveText(20, 100), "") << "short read ends in an error and no text";
  EXPECT_EQ(client.LastSocketError, 10060);
}

TEST_F(TcpTraffic, ReceiveUntilWithAnyLineEnd) {
  client.AnyLineEnd = true;
  Feed("abc\r");
  EXPECT_EQ(client.ReceiveLine(1000), "abc");
  EXPECT_TRUE(client.SawBareCR);
  Feed("\ndef\r\n");
  EXPECT_EQ(client.ReceiveLine(1000), "def") << "the LF split from its CR is dropped";
  Feed("a\n\rb\n");
  EXPECT_EQ(client.ReceiveLine(1000), "a") << "LF CR is one line end";
  EXPECT_EQ(client.ReceiveLine(1000), "b");
  EXPECT_TRUE(client.SawBareLF);
  Feed("\rnext\r\n");
  EXPECT_EQ(client.ReceiveLine(1000), "next") << "a CR after a bare LF completes the pair";
}

TEST_F(TcpTraffic, ReceiveUntilExactTerminatorAndLimits) {
  Feed("key=value;rest");
  EXPECT_EQ(client.ReceiveUntil(1000, ";"), "key=value");
  EXPECT_EQ(client.PendingInput, "rest");
  EXPECT_EQ(client.ReceiveUntil(1000, ""), "");
  EXPECT_EQ(client.LastSocketError, 0);
  EXPECT_EQ(client.PendingInput, "rest") << "an empty terminator returns at once";
  // No terminator within the time-out: nothing returned, everything kept.
  EXPECT_EQ(client.ReceiveUntil(100, ";"), "");
  EXPECT_EQ(client.LastSocketError, 10060);
  EXPECT_EQ(client.PendingInput, "rest");
  // More than the limit without a terminator: 10055, bytes kept.
  client.LineLengthLimit = 8;
  Feed("0123456789");
  EXPECT_EQ(client.ReceiveUntil(1000, ";"), "");
  EXPECT_EQ(client.LastSocketError, 10055);
  EXPECT_EQ(client.PendingInput, "rest0123456789");
}

TEST_F(TcpTraffic, CountedTextAndStreamData) {
  StreamSocket& c = client;
  c.SendCountedText("counted");
  std::string raw;
  for (int i = 0; i < 20 && raw.size() < 11; ++i) raw += server.ReceiveSome(500);
  EXPECT_EQ(raw, std::string("\x07\x00\x00\x00", 4) + "counted") << "length little-endian first";
  Feed(std::string("\x03\x00\x00\x00", 4) + "abc");
  EXPECT_EQ(c.ReceiveCountedText(1000), "abc");

  std::string big(70000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
  std::string framed = std::string("\x70\x11\x01\x00", 4) + big;  // 70000 = 0x00011170
  std::thread feeder([this, framed] { server.Send(framed); });
  std::ostringstream out;
  c.ReceiveStreamData(out, 2000);
  feeder.join();
  EXPECT_EQ(c.LastSocketError, 0);
  EXPECT_EQ(out.str(), big);
}

TEST_F(TcpTraffic, SendStreamDataFromPosition) {
  std::istringstream in("skipped:payload");
  in.seekg(8);
  client.SendStreamData(in);
  std::string raw;
  for (int i = 0; i < 20 && raw.size() < 11; ++i) raw += server.ReceiveSome(500);
  EXPECT_EQ(raw, std::string("\x07\x00\x00\x00", 4) + "payload");
}

TEST_F(TcpTraffic, PeekLeavesDataAndOctetsConsume) {
  Feed("xy");
  EXPECT_EQ(client.PeekOctet(1000), 'x');
  EXPECT_EQ(client.ReceiveOctet(1000), 'x');
  EXPECT_EQ(client.ReceiveOctet(1000), 'y');
  EXPECT_EQ(client.ReceiveOctet(50), 0);
  EXPECT_EQ(client.LastSocketError, 10060);
  EXPECT_EQ(client.PeekOctet(50), 0);
  EXPECT_EQ(client.LastSocketError, 10060);
}

TEST_F(TcpTraffic, FiltersMayRewriteAndShortenButNotLengthen) {
  client.ReadFilterHandler = [](TBlockSocket&, std::string& bytes) { bytes = "R" + bytes + "-too-long"; };
  client.WriteFilterHandler = [](TBlockSocket&, std::string& bytes) { bytes = bytes.substr(0, 3); };
  EXPECT_EQ(client.SendText("abcdef"), 3);
  EXPECT_EQ(server.ReceiveSome(1000), "abc");
  Feed("12345");
  EXPECT_EQ(client.ReceiveChunk(1000), "R1234");
}

TEST_F(TcpTraffic, PeerCloseReadsAsReset) {
  server.ClosePeer();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(client.ReceiveChunk(1000), "");
  EXPECT_EQ(client.LastSocketError, 10054);
}

TEST_F(TcpTraffic, DiscardInputEmptiesEverything) {
  Feed("junk");
  client.PendingInput = "old";
  client.DiscardInput();
  EXPECT_EQ(client.LastSocketError, 0);
  EXPECT_EQ(client.PendingInput, "");
  EXPECT_EQ(client.ReceiveChunk(0), "");
  EXPECT_EQ(client.LastSocketError, 10060);
}

// Regression: with whole-call time-outs, -1 still means "no limit"; it must
// not run out after the first chunk.
TEST_F(TcpTraffic, WholeCallTimeoutMinusOneHasNoLimit) {
  client.TimeoutPerChunk = false;
  Feed("abc");
  std::thread later([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    server.Send("def\r\nghi");
  });
  char buffer[5];
  EXPECT_EQ(client.ReceiveExactly(buffer, 5, -1), 5);
  later.join();
  EXPECT_EQ(client.LastSocketError, 0);
  EXPECT_EQ(std::string(buffer, 5), "abcde");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(client.ReceiveUntil(-1, "\r\n"), "f");
  EXPECT_EQ(client.LastSocketError, 0);
}

TEST_F(TcpTraffic, WholeCallTimeoutRunsOutAcrossChunks) {
  client.TimeoutPerChunk = false;
  std::thread drip([this] {
    for (int i = 0; i < 6; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
      server.Send("x");
    }
  });
  EXPECT_EQ(client.ReceiveUntil(200, ";"), "");
  EXPECT_EQ(client.LastSocketError, 10060) << "the limit covers the whole call, not each chunk";
  drip.join();
}

// Regression: a peer-chosen length in counted text must not reserve memory
// for bytes that never come.
TEST_F(TcpTraffic, HugeCountedLengthDoesNotReserveIt) {
  Feed(std::string("\xF0\xFF\xFF\x7F", 4) + "only this");
  EXPECT_EQ(client.ReceiveCountedText(100), "");
  EXPECT_EQ(client.LastSocketError, 10060);
}

TEST(TcpConnect, RefusedPortGives10061) {
  std::string port;
  {
    test::LoopbackTcpListener gone("127.0.0.1");  // a port that was just free
    port = gone.PortText();
  }
  StreamSocket s;
  std::vector<std::string> errors;
  s.StatusHandler = [&](TBlockSocket&, SocketStatusReason r, const std::string& text) {
    if (r == StatusError) errors.push_back(text);
  };
  s.ConnectTo("127.0.0.1", port);
  EXPECT_EQ(s.LastSocketError, 10061);
  EXPECT_EQ(s.LastSocketErrorText, "Connection refused");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "10061,Connection refused");
}

TEST(TcpConnect, IPv6Loopback) {
  if (!test::HasIPv6Loopback()) TARNWICK_MISSING_PEER("no IPv6 loopback on this machine");
  test::LoopbackTcpListener v6("::1");
  StreamSocket c;
  c.ConnectTo("::1", v6.PortText());
  EXPECT_EQ(c.LastSocketError, 0);
  EXPECT_TRUE(c.UsesIPv6);
  ASSERT_TRUE(v6.Accept(2000));
  v6.Send("six");
  EXPECT_EQ(c.ReceiveText(3, 1000), "six");
  EXPECT_EQ(c.RemoteAddressText(), "::1");
}

}  // namespace
}  // namespace tarnwick
