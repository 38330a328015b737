// TTCPBlockSocket through a scripted SOCKS proxy: the request bytes of
// both protocol versions and both resolve modes, the reply fields, user and
// password authentication, refusals and malformed or cut-off replies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SocksScriptedPeer.h"
#include "net/TcpBlockSocket.h"

namespace tarnwick {
namespace {

using test::Bytes;
using test::ScriptedProxy;
using test::ScriptStep;

const std::string kGreetingNoAuth = Bytes({5, 1, 0});
const std::string kChooseNoAuth = Bytes({5, 0});

std::string Socks5Reply(int code, const std::string& address) { return Bytes({5, code, 0}) + address; }

class SocksClient : public ::testing::Test {
 protected:
  void UseProxy(const ScriptedProxy& proxy) {
    client.SocksServer = "127.0.0.1";
    client.SocksServerPort = proxy.PortText();
    client.SocksReplyTimeout = 2000;
  }
  TTCPBlockSocket client;
};

TEST_F(SocksClient, Socks5NameReplyOfFiveCharacters) {
  ScriptedProxy proxy({{3, "", kChooseNoAuth},
                       {5 + 12 + 2, "", Socks5Reply(0, Bytes({3, 5}) + "bound" + Bytes({0x12, 0x34}))}});
  UseProxy(proxy);
  client.ConnectTo("example.test", "80");
  EXPECT_EQ(client.LastSocketError, 0) << client.LastSocketErrorText;
  auto got = proxy.Received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], kGreetingNoAuth);
  EXPECT_EQ(got[1], Bytes({5, 1, 0, 3, 12}) + "example.test" + Bytes({0, 80}));
  EXPECT_TRUE(client.SocksActive);
  EXPECT_EQ(client.SocksReplyCode, 0);
  EXPECT_EQ(client.SocksBoundHost, "bound");
  EXPECT_EQ(client.SocksBoundPort, "4660");
  EXPECT_EQ(client.LocalAddressText(), "bound");
  EXPECT_EQ(client.LocalPortNumber(), 4660);
  EXPECT_EQ(client.RemoteAddressText(), "example.test");
  EXPECT_EQ(client.RemotePortNumber(), 80);
  EXPECT_FALSE(client.SocksNegotiating);
}

TEST_F(SocksClient, Socks5LocalResolveSendsAddress) {
  ScriptedProxy proxy(
      {{3, "", kChooseNoAuth}, {10, "", Socks5Reply(0, Bytes({1, 127, 0, 0, 1, 0x9C, 0x40}))}});
  UseProxy(proxy);
  client.SetAddressFamily(FamilyIPv4);
  client.SocksRemoteResolve = false;
  client.ConnectTo("localhost", "21");
  EXPECT_EQ(client.LastSocketError, 0) << client.LastSocketErrorText;
  auto got = proxy.Received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1], Bytes({5, 1, 0, 1, 127, 0, 0, 1, 0, 21}));
  EXPECT_EQ(client.LocalPortNumber(), 40000);
}

TEST_F(SocksClient, Socks4NameExtensionAndLiteral) {
  struct Row {
    std::string host;
    std::string request;
  } rows[] = {
      {"name.test", Bytes({4, 1, 0, 80, 0, 0, 0, 1}) + "user" + Bytes({0}) + "name.test" + Bytes({0})},
      {"10.0.0.7", Bytes({4, 1, 0, 80, 10, 0, 0, 7}) + "user" + Bytes({0})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.host);
    ScriptedProxy proxy({{row.request.size(), "", Bytes({0, 90, 0x1F, 0x90, 10, 0, 0, 9})}});
    TTCPBlockSocket socket;
    socket.SocksServer = "127.0.0.1";
    socket.SocksServerPort = proxy.PortText();
    socket.SocksReplyTimeout = 2000;
    socket.SocksVersion = 4;
    socket.SocksLogin = "user";
    socket.ConnectTo(row.host, "80");
    EXPECT_EQ(socket.LastSocketError, 0) << socket.LastSocketErrorText;
    auto got = proxy.Received();
    ASSERT_EQ(got.size(), 1u) << "SOCKS 4 has no greeting";
    EXPECT_EQ(got[0], row.request);
    EXPECT_EQ(socket.SocksReplyCode, 90);
    EXPECT_EQ(socket.SocksBoundHost, "10.0.0.9");
    EXPECT_EQ(socket.SocksBoundPort, "8080");
  }
}

TEST_F(SocksClient, UserPasswordAcceptedAndRefused) {
  for (int status : {0, 1}) {
    SCOPED_TRACE(status);
    std::vector<ScriptStep> steps = {{4, "", Bytes({5, 2})}, {1 + 1 + 5 + 1 + 6, "", Bytes({1, status})}};
    if (status == 0) steps.push_back({10, "", Socks5Reply(0, Bytes({1, 1, 2, 3, 4, 0, 1}))});
    ScriptedProxy proxy(steps);
    TTCPBlockSocket socket;
    socket.SocksServer = "127.0.0.1";
    socket.SocksServerPort = proxy.PortText();
    socket.SocksReplyTimeout = 2000;
    socket.SocksLogin = "alice";
    socket.SocksLoginPassword = "secret";
    socket.ConnectTo("10.0.0.1", "7");
    auto got = proxy.Received();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[0], Bytes({5, 2, 2, 0}));
    EXPECT_EQ(got[1], Bytes({1, 5}) + "alice" + Bytes({6}) + "secret");
    if (status == 0) {
      EXPECT_EQ(socket.LastSocketError, 0);
      EXPECT_EQ(socket.SocksBoundHost, "1.2.3.4");
    } else {
      EXPECT_EQ(socket.LastSocketError, 10091);
      EXPECT_FALSE(socket.SocksActive);
    }
  }
}

// Regression: a proxy that chose user/password when no login was set got
// no request at all, and the client sat out the whole reply time-out. The
// request with an empty login and password goes out at once.
TEST_F(SocksClient, UserPasswordChosenWithoutLoginSendsEmptyRequest) {
  ScriptedProxy proxy({{3, "", Bytes({5, 2})},
                       {3, "", Bytes({1, 0})},
                       {10, "", Socks5Reply(0, Bytes({1, 1, 2, 3, 4, 0, 1}))}});
  UseProxy(proxy);
  client.ConnectTo("10.0.0.1", "7");
  EXPECT_EQ(client.LastSocketError, 0) << client.LastSocketErrorText;
  auto got = proxy.Received();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], kGreetingNoAuth);
  EXPECT_EQ(got[1], Bytes({1, 0, 0}));
  EXPECT_TRUE(client.SocksActive);
}

// Replies that end the negotiation; the code is 10091 when the proxy said
// something unacceptable, the read error when it stopped talking.
TEST_F(SocksClient, RefusedAndMalformedReplies) {
  struct Row {
    const char* name;
    std::vector<ScriptStep> steps;
    int error;
    int replyCode;
  } rows[] = {
      {"wrong greeting version", {{3, "", Bytes({4, 0})}}, 10091, 0},
      {"no acceptable method", {{3, "", Bytes({5, 0xFF})}}, 10091, 0},
      {"greeting cut short", {{3, "", Bytes({5}), true}}, 10054, 0},
      {"refused with code 5",
       {{3, "", kChooseNoAuth}, {10, "", Socks5Reply(5, Bytes({1, 0, 0, 0, 0, 0, 0}))}},
       10091,
       5},
      {"unknown address type",
       {{3, "", kChooseNoAuth}, {10, "", Socks5Reply(0, Bytes({9, 0, 0, 0, 0, 0, 0}))}},
       10091,
       -1},
      {"wrong reply version",
       {{3, "", kChooseNoAuth}, {10, "", Bytes({4, 0, 0, 1, 0, 0, 0, 0, 0, 0})}},
       10091,
       -1},
      {"name longer than the data",
       {{3, "", kChooseNoAuth}, {10, "", Socks5Reply(0, Bytes({3, 40}) + "abc"), true}},
       10054,
       -1},
      {"short IPv6 reply",
       {{3, "", kChooseNoAuth}, {10, "", Socks5Reply(0, Bytes({4, 1, 2, 3, 4, 5, 6, 7, 8})), true}},
       10054,
       -1},
      {"closed before reply", {{3, "", kChooseNoAuth}, {10, "", "", true}}, 10054, -1},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedProxy proxy(row.steps);
    TTCPBlockSocket socket;
    socket.SocksServer = "127.0.0.1";
    socket.SocksServerPort = proxy.PortText();
    socket.SocksReplyTimeout = 2000;
    socket.ConnectTo("10.0.0.1", "7");
    EXPECT_EQ(socket.LastSocketError, row.error);
    EXPECT_FALSE(socket.SocksActive);
    if (row.steps.size() > 1) {
      EXPECT_EQ(socket.SocksReplyCode, row.replyCode);
    }
    EXPECT_FALSE(socket.SocksNegotiating);
    EXPECT_TRUE(socket.SocksBoundHost.empty());
  }
}

TEST_F(SocksClient, ReplyTimeoutIsBounded) {
  ScriptedProxy proxy({{3, "", ""}});
  UseProxy(proxy);
  client.SocksReplyTimeout = 200;
  client.ConnectTo("10.0.0.1", "7");
  EXPECT_EQ(client.LastSocketError, 10060);
}

TEST_F(SocksClient, OverlongLoginIsNotSent) {
  ScriptedProxy proxy({{1, "", ""}});
  UseProxy(proxy);
  client.SocksReplyTimeout = 300;
  client.SocksLogin = std::string(256, 'x');
  client.ConnectTo("10.0.0.1", "7");
  EXPECT_EQ(client.LastSocketError, 10091);
  auto got = proxy.Received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], "") << "a login that a length byte cannot describe never reaches the proxy";
}

TEST_F(SocksClient, ListenThroughBindReply) {
  struct Row {
    std::string replyAddress;
    std::string boundHost;
  } rows[] = {
      {Bytes({1, 0, 0, 0, 0, 0x20, 0x00}), "127.0.0.1"},  // the proxy's wildcard: its own host
      {Bytes({1, 10, 9, 8, 7, 0x20, 0x00}), "10.9.8.7"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.boundHost);
    ScriptedProxy proxy({{3, "", kChooseNoAuth}, {10, "", Socks5Reply(0, row.replyAddress)}});
    TTCPBlockSocket socket;
    socket.SocksServer = "127.0.0.1";
    socket.SocksServerPort = proxy.PortText();
    socket.SocksReplyTimeout = 2000;
    socket.BindTo("127.0.0.1", "0");
    ASSERT_EQ(socket.LastSocketError, 0);
    const std::uint16_t localPort = socket.LocalPortNumber();
    socket.OpenListener();
    EXPECT_EQ(socket.LastSocketError, 0) << socket.LastSocketErrorText;
    auto got = proxy.Received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1], Bytes({5, 2, 0, 1, 127, 0, 0, 1, localPort >> 8, localPort & 0xFF}));
    EXPECT_EQ(socket.SocksBoundHost, row.boundHost);
    EXPECT_EQ(socket.LocalAddressText(), row.boundHost);
    EXPECT_EQ(socket.LocalPortNumber(), 0x2000);
    EXPECT_TRUE(socket.SocksPeerHost.empty());
  }
}

TEST_F(SocksClient, ListenThroughRefusingProxyIs11003) {
  ScriptedProxy proxy({{3, "", Bytes({5, 0xFF})}});
  UseProxy(proxy);
  client.BindTo("127.0.0.1", "0");
  client.OpenListener();
  EXPECT_EQ(client.LastSocketError, 11003);
}

TEST(TcpListener, DirectListenAcceptsConnections) {
  std::vector<int> reasons;  // outlives the socket, whose close still reports
  TTCPBlockSocket listener;
  listener.BindTo("127.0.0.1", "0");
  ASSERT_EQ(listener.LastSocketError, 0);
  listener.StatusHandler = [&](TBlockSocket&, SocketStatusReason reason, const std::string&) {
    reasons.push_back(reason);
  };
  listener.OpenListener();
  EXPECT_EQ(listener.LastSocketError, 0);
  ASSERT_FALSE(reasons.empty());
  EXPECT_EQ(reasons.back(), StatusListening);
  EXPECT_NE(listener.LocalPortNumber(), 0);
  TTCPBlockSocket client;
  client.ConnectTo("127.0.0.1", std::to_string(listener.LocalPortNumber()));
  EXPECT_EQ(client.LastSocketError, 0);
  EXPECT_TRUE(listener.WaitReadable(2000)) << "a pending connection makes the listener readable";
}

TEST(TcpClose, CloseShutsDownAndDiscards) {
  test::LoopbackTcpListener server("127.0.0.1");
  TTCPBlockSocket client;
  client.ConnectTo("127.0.0.1", server.PortText());
  ASSERT_EQ(client.LastSocketError, 0);
  ASSERT_TRUE(server.Accept(2000));
  server.Send("unread");
  client.CloseEndpoint();
  EXPECT_EQ(client.Handle, kNoSocket);
  EXPECT_EQ(client.LastSocketError, 0);
  EXPECT_EQ(server.ReceiveSome(1000), "") << "the peer sees the end of our sending side";
}

}  // namespace
}  // namespace tarnwick
