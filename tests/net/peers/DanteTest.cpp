// The SOCKS client against a real SOCKS server (danted) on loopback: TCP
// connect in both protocol versions, user/password authentication accepted
// and refused, and UDP datagrams relayed both ways through an association.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../../support/RequiredPeer.h"
#include "PeerProcess.h"
#include "net/TcpBlockSocket.h"
#include "net/UdpBlockSocket.h"

namespace tarnwick {
namespace {

class Dante : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (test::FindProgram("danted").empty()) return;
    scratch = new test::ScratchDirectory();
    server = test::StartDanted(*scratch, port);
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
    delete scratch;
    scratch = nullptr;
  }
  void SetUp() override {
    if (test::FindProgram("danted").empty()) TARNWICK_MISSING_PEER("danted is not installed");
    ASSERT_NE(server, nullptr) << "danted did not start: " << test::ReadFile(scratch->Path() + "/danted.log");
  }
  void UseProxy(TSocksBlockSocket& socket) {
    socket.SocksServer = "127.0.0.1";
    socket.SocksServerPort = std::to_string(port);
    socket.SocksReplyTimeout = 5000;
  }

  static test::ScratchDirectory* scratch;
  static test::PeerProcess* server;
  static std::uint16_t port;
};

test::ScratchDirectory* Dante::scratch = nullptr;
test::PeerProcess* Dante::server = nullptr;
std::uint16_t Dante::port = 0;

TEST_F(Dante, ConnectBothVersionsAndTalk) {
  for (std::uint8_t version : {0, 4}) {
    SCOPED_TRACE(static_cast<int>(version));
    test::LoopbackTcpListener target("127.0.0.1");
    TTCPBlockSocket client;
    UseProxy(client);
    client.SocksVersion = version;
    client.ConnectTo("127.0.0.1", target.PortText());
    ASSERT_EQ(client.LastSocketError, 0) << client.LastSocketErrorText;
    ASSERT_TRUE(target.Accept(3000));
    EXPECT_TRUE(client.SocksActive);
    EXPECT_EQ(client.RemoteAddressText(), "127.0.0.1");
    EXPECT_EQ(client.RemotePortNumber(), std::stoi(target.PortText()));
    EXPECT_EQ(client.SocksReplyCode, version == 0 ? 0 : 90);
    EXPECT_EQ(client.SendText("through the proxy"), 17);
    EXPECT_EQ(target.ReceiveSome(3000), "through the proxy");
    target.Send("and back");
    EXPECT_EQ(client.ReceiveText(8, 3000), "and back");
  }
}

TEST_F(Dante, ConnectToClosedPortIsRefused) {
  std::string closedPort;
  {
    test::LoopbackTcpListener gone("127.0.0.1");
    closedPort = gone.PortText();
  }
  TTCPBlockSocket client;
  UseProxy(client);
  client.ConnectTo("127.0.0.1", closedPort);
  EXPECT_EQ(client.LastSocketError, 10091);
  EXPECT_NE(client.SocksReplyCode, 0) << "the proxy's refusal code is kept";
  EXPECT_FALSE(client.SocksActive);
}

// The account lives only in the namespace of a danted of its own, with a
// password made up here; nothing is added to the machine's accounts. That
// the fresh password is accepted shows danted read the namespace's copies.
TEST_F(Dante, UserPassword) {
  test::ScratchDirectory accountScratch;
  const test::SocksTestAccount account{
      "tarnwick-socks", "pw-" + std::to_string(getpid()) + "-" + std::to_string(test::FreeTcpPort())};
  std::uint16_t accountPort = 0;
  std::string why;
  std::unique_ptr<test::PeerProcess> accountServer(
      test::StartDantedWithAccount(accountScratch, accountPort, account, why));
  if (!why.empty()) TARNWICK_MISSING_PEER(why);
  ASSERT_NE(accountServer, nullptr) << "danted did not start in its namespace: "
                                    << test::ReadFile(accountScratch.Path() + "/danted.out")
                                    << test::ReadFile(accountScratch.Path() + "/danted.log");
  const std::string password = account.password;
  struct Row {
    std::string password;
    int error;
  } rows[] = {{password, 0}, {"wrong password", 10091}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.password);
    test::LoopbackTcpListener target("127.0.0.1");
    TTCPBlockSocket client;
    UseProxy(client);
    client.SocksServerPort = std::to_string(accountPort);
    client.SocksLogin = account.name;
    client.SocksLoginPassword = row.password;
    client.ConnectTo("127.0.0.1", target.PortText());
    EXPECT_EQ(client.LastSocketError, row.error) << client.LastSocketErrorText;
    if (row.error == 0) {
      ASSERT_TRUE(target.Accept(3000));
      EXPECT_EQ(client.SendText("authenticated"), 13);
      EXPECT_EQ(target.ReceiveSome(3000), "authenticated");
    }
  }
}

// Listening through the proxy: the first reply names the port the proxy
// opened for us, the second (read by the user) the peer that connected.
TEST_F(Dante, ListenThroughBind) {
  TTCPBlockSocket listener;
  UseProxy(listener);
  listener.BindTo("127.0.0.1", "0");
  ASSERT_EQ(listener.LastSocketError, 0);
  listener.OpenListener();
  ASSERT_EQ(listener.LastSocketError, 0) << listener.LastSocketErrorText;
  EXPECT_EQ(listener.LocalAddressText(), "127.0.0.1");
  const std::uint16_t boundPort = listener.LocalPortNumber();
  ASSERT_NE(boundPort, 0);
  EXPECT_TRUE(listener.SocksPeerHost.empty());
  TTCPBlockSocket peer;
  peer.ConnectTo("127.0.0.1", std::to_string(boundPort));
  ASSERT_EQ(peer.LastSocketError, 0);
  ASSERT_TRUE(listener.SocksReadReply());
  EXPECT_EQ(listener.SocksReplyHost, "127.0.0.1");
  EXPECT_EQ(listener.SocksReplyPort, std::to_string(peer.LocalPortNumber()));
  EXPECT_EQ(peer.SendText("to the listener"), 15);
  EXPECT_EQ(listener.ReceiveText(15, 3000), "to the listener");
}

TEST_F(Dante, UdpRelayBothWays) {
  test::LoopbackUdpPeer target("127.0.0.1");
  TUDPBlockSocket socket;
  UseProxy(socket);
  socket.ConnectTo("127.0.0.1", target.PortText());
  ASSERT_EQ(socket.LastSocketError, 0);
  EXPECT_EQ(socket.SendText("0123456789"), 20);
  ASSERT_EQ(socket.LastSocketError, 0) << socket.LastSocketErrorText;
  EXPECT_TRUE(socket.SocksActive);
  std::string got;
  ASSERT_TRUE(target.Receive(got, 3000));
  EXPECT_EQ(got, "0123456789") << "the relay strips the header";
  ASSERT_EQ(target.Reply("reply-bytes"), 11);
  EXPECT_EQ(socket.ReceiveChunk(3000), "reply-bytes");
  EXPECT_EQ(socket.LastSocketError, 0);
  EXPECT_EQ(socket.RemoteAddressText(), "127.0.0.1");
  EXPECT_EQ(socket.RemotePortNumber(), target.Port()) << "the sender behind the relay";
  // A second send runs a new association and still arrives.
  EXPECT_EQ(socket.SendText("again"), 15);
  ASSERT_TRUE(target.Receive(got, 3000));
  EXPECT_EQ(got, "again");
}

}  // namespace
}  // namespace tarnwick
