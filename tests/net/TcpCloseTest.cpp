// Closing and destroying sockets: a TCP close ends even while the peer
// keeps sending, and every kind of socket reports its close exactly once
// when it is destroyed.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "NetTestPeers.h"
#include "StreamingPeer.h"
#include "net/TcpBlockSocket.h"
#include "net/UdpBlockSocket.h"

namespace tarnwick {
namespace {

// Far more than the close reads before it gives up, and more than the
// loopback buffers of both ends hold, so that a close which reads "until
// the peer stops" only ends once the whole budget has gone through.
constexpr std::size_t kPeerBudget = 64u << 20;

// Regression: the close read and threw away input for as long as it kept
// arriving, so a peer that never paused held close (and the destructor)
// for ever.
TEST(TcpClose, EndsWhileThePeerKeepsSending) {
  for (bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "destructor" : "CloseEndpoint");
    test::StreamingTcpPeer peer("", "", std::string(4096, 'z'), kPeerBudget);
    auto client = std::make_unique<TTCPBlockSocket>();
    client->ConnectTo("127.0.0.1", peer.PortText());
    ASSERT_EQ(client->LastSocketError, 0) << client->LastSocketErrorText;
    // Let the stream get going so that input is waiting at the close.
    ASSERT_FALSE(client->ReceiveChunk(3000).empty());
    if (destroy) {
      client.reset();
    } else {
      client->CloseEndpoint();
      EXPECT_EQ(client->Handle, kNoSocket);
      EXPECT_EQ(client->LastSocketError, 0);
    }
    EXPECT_FALSE(peer.SpentBudget()) << "the close waited until the peer had nothing more to send";
  }
}

struct DestroyRow {
  const char* kind;
  bool open;
  std::function<std::unique_ptr<TBlockSocket>(const std::string& port)> make;
};

// Regression: the TCP socket closed in its own destructor and again in the
// base destructor, reporting StatusClosed twice.
TEST(SocketDestruction, ReportsClosedOnce) {
  test::LoopbackTcpListener server("127.0.0.1");
  const DestroyRow rows[] = {
      {"TCP, never opened", false, [](const std::string&) { return std::make_unique<TTCPBlockSocket>(); }},
      {"TCP, connected", true,
       [](const std::string& port) {
         auto s = std::make_unique<TTCPBlockSocket>();
         s->ConnectTo("127.0.0.1", port);
         return std::unique_ptr<TBlockSocket>(std::move(s));
       }},
      {"UDP, never opened", false, [](const std::string&) { return std::make_unique<TUDPBlockSocket>(); }},
      {"UDP, connected", true,
       [](const std::string& port) {
         auto s = std::make_unique<TUDPBlockSocket>();
         s->ConnectTo("127.0.0.1", port);
         return std::unique_ptr<TBlockSocket>(std::move(s));
       }},
      {"block socket", false, [](const std::string&) { return std::make_unique<TBlockSocket>(); }},
  };
  for (const DestroyRow& row : rows) {
    SCOPED_TRACE(row.kind);
    std::vector<SocketStatusReason> reasons;  // outlives the socket, whose close still reports
    std::unique_ptr<TBlockSocket> socket = row.make(server.PortText());
    ASSERT_EQ(socket->LastSocketError, 0) << socket->LastSocketErrorText;
    ASSERT_EQ(socket->Handle != kNoSocket, row.open);
    socket->StatusHandler = [&](TBlockSocket&, SocketStatusReason reason, const std::string&) {
      reasons.push_back(reason);
    };
    socket.reset();
    int closed = 0;
    for (SocketStatusReason r : reasons) closed += r == StatusClosed ? 1 : 0;
    EXPECT_EQ(closed, 1);
    ASSERT_FALSE(reasons.empty());
    EXPECT_EQ(reasons.back(), StatusClosed);
  }
}

}  // namespace
}  // namespace tarnwick
