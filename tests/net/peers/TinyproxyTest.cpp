// The HTTP "CONNECT" tunnel through a real HTTP proxy (tinyproxy) that
// demands Basic authorisation: the right credentials open a tunnel that
// carries data both ways; missing or wrong ones get 407 and 10091.
#include <gtest/gtest.h>

#include <string>

#include "../../support/RequiredPeer.h"
#include "PeerProcess.h"
#include "net/TcpBlockSocket.h"

namespace tarnwick {
namespace {

class Tinyproxy : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (test::FindProgram("tinyproxy").empty()) return;
    scratch = new test::ScratchDirectory();
    server = test::StartTinyproxy(*scratch, port);
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
    delete scratch;
    scratch = nullptr;
  }
  void SetUp() override {
    if (test::FindProgram("tinyproxy").empty()) TARNWICK_MISSING_PEER("tinyproxy is not installed");
    ASSERT_NE(server, nullptr) << "tinyproxy did not start: "
                               << test::ReadFile(scratch->Path() + "/tinyproxy.out");
  }
  static test::ScratchDirectory* scratch;
  static test::PeerProcess* server;
  static std::uint16_t port;
};

test::ScratchDirectory* Tinyproxy::scratch = nullptr;
test::PeerProcess* Tinyproxy::server = nullptr;
std::uint16_t Tinyproxy::port = 0;

TEST_F(Tinyproxy, CredentialsDecide) {
  struct Row {
    const char* login;
    const char* password;
    bool up;
    int error;
  } rows[] = {
      {"tunneluser", "tunnelpass", true, 0},
      {"tunneluser", "wrong", false, 10091},
      {"", "", false, 10091},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.login) + ":" + row.password);
    test::LoopbackTcpListener target("127.0.0.1");
    TTCPBlockSocket client;
    client.TunnelHost = "127.0.0.1";
    client.TunnelPort = std::to_string(port);
    client.TunnelReplyTimeout = 5000;
    client.TunnelLogin = row.login;
    client.TunnelLoginPassword = row.password;
    client.ConnectTo("127.0.0.1", target.PortText());
    EXPECT_EQ(client.TunnelUp, row.up);
    EXPECT_EQ(client.LastSocketError, row.error) << client.LastSocketErrorText;
    if (!row.up) continue;
    ASSERT_TRUE(target.Accept(3000));
    EXPECT_EQ(client.RemoteAddressText(), "127.0.0.1");
    EXPECT_EQ(client.RemotePortNumber(), std::stoi(target.PortText()));
    EXPECT_EQ(client.SendText("via tunnel"), 10);
    EXPECT_EQ(target.ReceiveSome(3000), "via tunnel");
    target.Send("reply");
    EXPECT_EQ(client.ReceiveText(5, 3000), "reply");
  }
}

}  // namespace
}  // namespace tarnwick
