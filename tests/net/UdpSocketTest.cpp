// Real datagram traffic over the loopback interface: one datagram per
// chunk, the sender becoming the remote address, time-outs, empty
// datagrams and the rate limiter.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "../support/RequiredPeer.h"
#include "NetTestPeers.h"
#include "net/NetUtil.h"
#include "net/SocketError.h"
#include "net/UdpBlockSocket.h"

namespace tarnwick {
namespace {

using test::LoopbackUdpPeer;

TEST(UdpSocket, ConnectSendsNothingAndFirstSendReachesPeer) {
  LoopbackUdpPeer peer("127.0.0.1");
  std::vector<SocketStatusReason> reasons;  // outlives the socket, whose destructor still reports
  TUDPBlockSocket udp;
  udp.StatusHandler = [&](TBlockSocket&, SocketStatusReason r, const std::string&) { reasons.push_back(r); };
  udp.ConnectTo("127.0.0.1", peer.PortText());
  EXPECT_EQ(udp.LastSocketError, 0);
  EXPECT_NE(udp.Handle, kNoSocket);
  std::string payload;
  EXPECT_FALSE(peer.Receive(payload, 100)) << "connect must not send";
  EXPECT_EQ(udp.SendText("hello"), 5);
  EXPECT_EQ(udp.LastSocketError, 0);
  ASSERT_TRUE(peer.Receive(payload, 2000));
  EXPECT_EQ(payload, "hello");
  EXPECT_EQ(peer.LastSenderPort(), udp.LocalPortNumber());
  ASSERT_GE(reasons.size(), 4u);
  EXPECT_EQ(reasons[0], StatusResolving);
  EXPECT_EQ(reasons[1], StatusResolved);
  EXPECT_EQ(reasons[2], StatusCreated);
  EXPECT_EQ(reasons[3], StatusConnected);
}

TEST(UdpSocket, OneDatagramPerChunkAndSenderBecomesRemote) {
  LoopbackUdpPeer peer("127.0.0.1");
  LoopbackUdpPeer other("127.0.0.1");
  TUDPBlockSocket udp;
  udp.ConnectTo("127.0.0.1", peer.PortText());
  ASSERT_EQ(udp.SendText("req"), 3);
  std::string got;
  ASSERT_TRUE(peer.Receive(got, 2000));
  // Two datagrams from another port queue up before the first receive.
  other.SendTo(udp.LocalPortNumber(), "first-datagram");
  other.SendTo(udp.LocalPortNumber(), "second");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(udp.ReceiveChunk(2000), "first-datagram");
  EXPECT_EQ(udp.LastSocketError, 0);
  EXPECT_EQ(udp.RemotePortNumber(), other.Port());
  EXPECT_EQ(udp.RemoteAddressText(), "127.0.0.1");
  EXPECT_EQ(udp.ReceiveChunk(2000), "second");
  // The answer goes to the sender of the last datagram, not the connect target.
  EXPECT_EQ(udp.SendText("ack"), 3);
  ASSERT_TRUE(other.Receive(got, 2000));
  EXPECT_EQ(got, "ack");
  EXPECT_FALSE(peer.Receive(got, 50));
}

TEST(UdpSocket, SecondSendWithoutReceiveFails) {
  LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  udp.ConnectTo("127.0.0.1", peer.PortText());
  ASSERT_EQ(udp.SendText("one"), 3);
  EXPECT_EQ(udp.RemoteAddress.family, 0) << "an unconnected socket reads back no peer";
  EXPECT_EQ(udp.SendText("two"), -1);
  EXPECT_NE(udp.LastSocketError, 0);
  EXPECT_EQ(udp.LastSocketErrorText, GetErrorDesc(udp.LastSocketError));
}

TEST(UdpSocket, TimeoutZeroAndSilence) {
  LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  udp.ConnectTo("127.0.0.1", peer.PortText());
  std::vector<std::string> errors;
  udp.StatusHandler = [&](TBlockSocket&, SocketStatusReason r, const std::string& text) {
    if (r == StatusError) errors.push_back(text);
  };
  EXPECT_EQ(udp.ReceiveChunk(0), "");
  EXPECT_EQ(udp.LastSocketError, 10060);
  EXPECT_EQ(udp.ReceiveChunk(150), "");
  EXPECT_EQ(udp.LastSocketError, 10060);
  EXPECT_EQ(udp.LastSocketErrorText, "Connection timed out");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0], "10060,Connection timed out");
  // With a datagram queued, time-out 0 still delivers it.
  udp.SendText("x");
  std::string got;
  ASSERT_TRUE(peer.Receive(got, 2000));
  peer.Reply("queued");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(udp.ReceiveChunk(0), "queued");
  EXPECT_EQ(udp.LastSocketError, 0);
}

TEST(UdpSocket, TimeoutMinusOneWaitsForLateDatagram) {
  LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  udp.ConnectTo("127.0.0.1", peer.PortText());
  udp.SendText("x");
  std::string got;
  ASSERT_TRUE(peer.Receive(got, 2000));
  std::thread late([&peer] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    peer.Reply("late");
  });
  const auto start = std::chrono::steady_clock::now();
  std::string chunk = udp.ReceiveChunk(-1);
  const auto waited = std::chrono::steady_clock::now() - start;
  late.join();
  EXPECT_EQ(chunk, "late");
  EXPECT_EQ(udp.LastSocketError, 0);
  EXPECT_GE(waited, std::chrono::milliseconds(200)) << "the receive must have waited for the sender";
}

TEST(UdpSocket, ZeroLengthDatagramIsTakenOffTheQueue) {
  LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  udp.ConnectTo("127.0.0.1", peer.PortText());
  udp.SendText("x");
  std::string got;
  ASSERT_TRUE(peer.Receive(got, 2000));
  peer.Reply("");
  peer.Reply("after-empty");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(udp.ReceiveChunk(1000), "");
  EXPECT_EQ(udp.LastSocketError, 0) << "an empty datagram is data, not a closed peer";
  EXPECT_EQ(udp.ReceiveChunk(1000), "after-empty");
  EXPECT_EQ(udp.LastSocketError, 0);
}

TEST(UdpSocket, EmptySendIsAnEmptyDatagram) {
  LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  udp.ConnectTo("127.0.0.1", peer.PortText());
  EXPECT_EQ(udp.SendText(""), 0);
  EXPECT_EQ(udp.LastSocketError, 0);
  std::string got = "not touched";
  ASSERT_TRUE(peer.Receive(got, 2000));
  EXPECT_EQ(got, "");
}

TEST(UdpSocket, LargestDatagramsArriveWhole) {
  LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  udp.ConnectTo("127.0.0.1", peer.PortText());
  udp.SendText("x");
  std::string got;
  ASSERT_TRUE(peer.Receive(got, 2000));
  for (std::size_t size : {std::size_t{1}, std::size_t{511}, std::size_t{512}, std::size_t{513},
                           std::size_t{4096}, std::size_t{65507}}) {
    SCOPED_TRACE(size);
    std::string payload(size, '\0');
    for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<char>(i * 7 + size);
    peer.Reply(payload);
    peer.Reply("tail");
    EXPECT_EQ(udp.ReceiveChunk(2000), payload);
    EXPECT_EQ(udp.ReceiveChunk(2000), "tail");
  }
}

TEST(UdpSocket, SecondConnectKeepsTheLocalPort) {
  LoopbackUdpPeer a("127.0.0.1");
  LoopbackUdpPeer b("127.0.0.1");
  TUDPBlockSocket udp;
  udp.ConnectTo("127.0.0.1", a.PortText());
  udp.SendText("to-a");
  std::string got;
  ASSERT_TRUE(a.Receive(got, 2000));
  const std::uint16_t firstPort = a.LastSenderPort();
  const SocketHandle handle = udp.Handle;
  udp.ConnectTo("127.0.0.1", b.PortText());
  EXPECT_EQ(udp.Handle, handle);
  udp.SendText("to-b");
  ASSERT_TRUE(b.Receive(got, 2000));
  EXPECT_EQ(got, "to-b");
  EXPECT_EQ(b.LastSenderPort(), firstPort);
}

TEST(UdpSocket, CloseEndpointReportsAndResets) {
  TUDPBlockSocket udp;
  int closedReports = 0;
  udp.StatusHandler = [&](TBlockSocket&, SocketStatusReason r, const std::string& text) {
    if (r == StatusClosed && text.empty()) ++closedReports;
  };
  udp.CloseEndpoint();  // no handle yet: still reported
  EXPECT_EQ(closedReports, 1);
  EXPECT_EQ(udp.LastSocketError, 0);
  udp.ConnectTo("127.0.0.1", "9");
  ASSERT_NE(udp.Handle, kNoSocket);
  udp.PendingInput = "kept";
  udp.CloseEndpoint();
  EXPECT_EQ(udp.Handle, kNoSocket);
  EXPECT_EQ(closedReports, 2);
  EXPECT_EQ(udp.PendingInput, "kept") << "only the next handle creation empties it";
}

TEST(UdpSocket, RateLimiterWaitsAndReports) {
  LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  udp.ConnectTo("127.0.0.1", peer.PortText());
  udp.SendRateLimit = 1000;  // bytes per second
  std::vector<int> throttled;
  udp.StatusHandler = [&](TBlockSocket&, SocketStatusReason r, const std::string& text) {
    if (r == StatusThrottled) throttled.push_back(std::stoi(text));
  };
  const std::string half(500, 'r');
  udp.SendText(half);
  EXPECT_TRUE(throttled.empty()) << "the first send has nothing to wait for";
  // A send resets RemoteAddress; point it at the peer again (no new socket).
  udp.ConnectTo("127.0.0.1", peer.PortText());
  const std::uint32_t before = CurrentTick();
  udp.SendText(half);
  const std::uint32_t spent = TickSpan(before, CurrentTick());
  ASSERT_EQ(throttled.size(), 1u);
  EXPECT_GT(throttled[0], 0);
  EXPECT_LE(throttled[0], 500);
  EXPECT_GE(spent + 20, static_cast<std::uint32_t>(throttled[0])) << "the announced wait happened";
  std::string got;
  EXPECT_TRUE(peer.Receive(got, 2000));
  EXPECT_TRUE(peer.Receive(got, 2000));
}

TEST(UdpSocket, NoProxyNeverCreatesControlSocket) {
  LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  udp.ConnectTo("127.0.0.1", peer.PortText());
  udp.SendText("x");
  std::string got;
  ASSERT_TRUE(peer.Receive(got, 2000));
  peer.Reply("y");
  EXPECT_EQ(udp.ReceiveChunk(2000), "y");
  EXPECT_FALSE(udp.ControlSocket);
  EXPECT_FALSE(udp.SocksActive);
}

TEST(UdpSocket, ProxyWithoutAssociationFailsWithoutSending) {
  LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  udp.ConnectTo("127.0.0.1", peer.PortText());
  udp.SocksServer = "127.0.0.1";
  udp.SocksServerPort = "1";  // nothing listens there
  EXPECT_EQ(udp.SendText("relayed?"), 0);
  EXPECT_EQ(udp.LastSocketError, 11003);
  std::string got;
  EXPECT_FALSE(peer.Receive(got, 100));
}

TEST(UdpSocket, IPv6LoopbackTraffic) {
  if (!test::HasIPv6Loopback()) TARNWICK_MISSING_PEER("no IPv6 loopback on this machine");
  LoopbackUdpPeer peer("::1");
  TUDPBlockSocket udp;
  udp.ConnectTo("::1", peer.PortText());
  ASSERT_EQ(udp.LastSocketError, 0);
  EXPECT_TRUE(udp.UsesIPv6);
  EXPECT_EQ(udp.SendText("v6"), 2);
  std::string got;
  ASSERT_TRUE(peer.Receive(got, 2000));
  EXPECT_EQ(got, "v6");
  peer.Reply("back");
  EXPECT_EQ(udp.ReceiveChunk(2000), "back");
  EXPECT_EQ(udp.RemoteAddressText(), "::1");
  EXPECT_EQ(udp.RemotePortNumber(), peer.Port());
}

}  // namespace
}  // namespace tarnwick
