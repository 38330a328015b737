// The UDP relay path against a scripted SOCKS 5 proxy (TCP control
// connection) and a scripted relay (a plain UDP socket): the association
// request, the header on send and its removal on receive, and relayed
// datagrams that are too short or carry an unknown address type.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NetTestPeers.h"
#include "SocksScriptedPeer.h"
#include "net/TcpBlockSocket.h"
#include "net/UdpBlockSocket.h"

namespace tarnwick {
namespace {

using test::Bytes;
using test::ScriptedProxy;
using test::ScriptStep;

std::string PortBytes(std::uint16_t port) { return Bytes({port >> 8, port & 0xFF}); }

// One association: greeting, UDP-associate request (IPv4 form, 10 bytes),
// and a reply that names the relay.
std::vector<ScriptStep> Association(std::uint16_t relayPort, int times = 1) {
  std::vector<ScriptStep> steps;
  for (int i = 0; i < times; ++i) {
    steps.push_back({3, "", Bytes({5, 0}), false, true});
    steps.push_back({10, "", Bytes({5, 0, 0, 1, 127, 0, 0, 1}) + PortBytes(relayPort)});
  }
  return steps;
}

class Relay : public ::testing::Test {
 protected:
  void Start(int associations) {
    proxy = std::make_unique<ScriptedProxy>(Association(relay.Port(), associations));
    socket.SocksServer = "127.0.0.1";
    socket.SocksServerPort = proxy->PortText();
    socket.SocksReplyTimeout = 2000;
    socket.ConnectTo("127.0.0.1", target.PortText());
    ASSERT_EQ(socket.LastSocketError, 0);
  }
  // Sends 10 bytes through the relay and checks what the relay received.
  void SendTen() {
    EXPECT_EQ(socket.SendText("0123456789"), 20) << "3 + 1 + 4 + 2 header bytes and the 10 data bytes";
    EXPECT_EQ(socket.LastSocketError, 0) << socket.LastSocketErrorText;
    std::string datagram;
    ASSERT_TRUE(relay.Receive(datagram, 2000));
    EXPECT_EQ(datagram, Bytes({0, 0, 0, 1, 127, 0, 0, 1}) + PortBytes(target.Port()) + "0123456789");
  }
  test::LoopbackUdpPeer relay{"127.0.0.1"};
  test::LoopbackUdpPeer target{"127.0.0.1"};
  std::unique_ptr<ScriptedProxy> proxy;
  TUDPBlockSocket socket;
};

TEST_F(Relay, SendWrapsAndKeepsDestination) {
  Start(1);
  SendTen();
  EXPECT_TRUE(socket.SocksActive);
  EXPECT_EQ(socket.SocksPeerHost, "127.0.0.1");
  EXPECT_EQ(socket.SocksPeerPort, relay.PortText());
  EXPECT_EQ(socket.RemoteAddressText(), "127.0.0.1");
  EXPECT_EQ(socket.RemotePortNumber(), target.Port()) << "the destination, not the relay, after the send";
  ASSERT_TRUE(socket.ControlSocket);
  auto got = proxy->Received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], Bytes({5, 1, 0}));
  // The association names the address and port this socket sends from.
  EXPECT_EQ(got[1].substr(0, 4), Bytes({5, 3, 0, 1}));
  EXPECT_EQ(got[1].substr(8), PortBytes(socket.LocalPortNumber()));
  std::string direct;
  EXPECT_FALSE(target.Receive(direct, 100)) << "nothing goes to the destination directly";
}

TEST_F(Relay, EverySendAssociatesAgain) {
  Start(2);
  SendTen();
  SendTen();
  EXPECT_EQ(proxy->Connections(), 2);
}

TEST_F(Relay, ReceiveUnwrapsAndAdoptsSender) {
  Start(1);
  SendTen();
  ASSERT_EQ(relay.Reply(Bytes({0, 0, 0, 1, 127, 0, 0, 1, 0x1F, 0x90}) + "abcdefghij"), 20);
  std::string chunk = socket.ReceiveChunk(2000);
  EXPECT_EQ(socket.LastSocketError, 0);
  EXPECT_EQ(chunk, "abcdefghij");
  EXPECT_EQ(socket.RemoteAddressText(), "127.0.0.1");
  EXPECT_EQ(socket.RemotePortNumber(), 8080) << "the sender behind the relay";
  EXPECT_EQ(socket.SocksReplyPort, "8080");
}

// Malformed relayed datagrams: what is delivered and which address follows.
TEST_F(Relay, ShortAndUnknownDatagrams) {
  Start(1);
  SendTen();
  struct Row {
    const char* name;
    std::string datagram;
    std::string delivered;
    std::uint16_t port;
  } rows[] = {
      {"well formed", Bytes({0, 0, 0, 1, 127, 0, 0, 1, 0, 99}) + "x", "x", 99},
      {"shorter than the head", "abc", "abc", 0},
      {"unknown type", Bytes({0, 0, 0, 7}) + "data", "data", 0},
      {"name runs past the end", Bytes({0, 0, 0, 3, 40}) + "ab", Bytes({40}) + "ab", 0},
      {"short IPv6", Bytes({0, 0, 0, 4, 1, 2, 3, 4, 5, 6, 7, 8}), Bytes({1, 2, 3, 4, 5, 6, 7, 8}), 0},
      {"header only", Bytes({0, 0, 0, 1, 127, 0, 0, 1, 0, 98}), "", 98},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(relay.Reply(row.datagram), static_cast<int>(row.datagram.size()));
    ASSERT_TRUE(socket.WaitReadable(2000));
    char buffer[64];
    const int n = socket.ReceiveData(buffer, sizeof(buffer));
    EXPECT_EQ(socket.LastSocketError, 0);
    ASSERT_EQ(n, static_cast<int>(row.delivered.size()));
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), row.delivered);
    EXPECT_EQ(socket.RemotePortNumber(), row.port);
    // The host of the last good header stays.
    EXPECT_EQ(socket.SocksReplyHost, "127.0.0.1");
  }
}

TEST_F(Relay, ReceiveNeverExceedsCapacity) {
  Start(1);
  SendTen();
  ASSERT_GT(relay.Reply(Bytes({0, 0, 0, 1, 127, 0, 0, 1, 0, 1}) + std::string(100, 'z')), 0);
  ASSERT_TRUE(socket.WaitReadable(2000));
  char buffer[16];
  const int n = socket.ReceiveData(buffer, sizeof(buffer));
  EXPECT_LE(n, static_cast<int>(sizeof(buffer)));
}

TEST(RelayFailure, UnreachableProxyFailsWith11003) {
  // A port that was just free: nobody listens there.
  std::string port;
  {
    test::LoopbackTcpListener closed("127.0.0.1");
    port = closed.PortText();
  }
  test::LoopbackUdpPeer target("127.0.0.1");
  TUDPBlockSocket socket;
  socket.SocksServer = "127.0.0.1";
  socket.SocksServerPort = port;
  socket.ConnectTo("127.0.0.1", target.PortText());
  EXPECT_EQ(socket.SendText("hello"), 0);
  EXPECT_EQ(socket.LastSocketError, 11003);
  EXPECT_FALSE(socket.SocksActive);
  std::string got;
  EXPECT_FALSE(target.Receive(got, 100)) << "a failed association sends nothing";
}

TEST(RelayFailure, RefusedAssociationFailsWith11003) {
  ScriptedProxy proxy({{3, "", Bytes({5, 0})}, {10, "", Bytes({5, 1, 0, 1, 0, 0, 0, 0, 0, 0})}});
  test::LoopbackUdpPeer target("127.0.0.1");
  TUDPBlockSocket socket;
  socket.SocksServer = "127.0.0.1";
  socket.SocksServerPort = proxy.PortText();
  socket.SocksReplyTimeout = 2000;
  socket.ConnectTo("127.0.0.1", target.PortText());
  EXPECT_EQ(socket.SendText("hello"), 0);
  EXPECT_EQ(socket.LastSocketError, 11003);
  ASSERT_TRUE(socket.ControlSocket);
  EXPECT_EQ(socket.ControlSocket->SocksReplyCode, 1);
}

TEST(RelayDirect, NoProxyNeverCreatesControlSocket) {
  test::LoopbackUdpPeer target("127.0.0.1");
  TUDPBlockSocket socket;
  socket.ConnectTo("127.0.0.1", target.PortText());
  EXPECT_TRUE(socket.AssociateRelay());
  EXPECT_EQ(socket.SendText("ping"), 4);
  std::string got;
  ASSERT_TRUE(target.Receive(got, 2000));
  EXPECT_EQ(got, "ping");
  EXPECT_FALSE(socket.ControlSocket);
}

}  // namespace
}  // namespace tarnwick
