// What an engine holds before anyone sets it: the values a caller relies on
// when it sets only the port, and the base class's own, which differ.
#include <gtest/gtest.h>

#include <thread>

#include "EngineTestSupport.h"

namespace tarnwick::testing_support {
namespace {

TEST(EngineDefaults, BaseClassAndEngineStartFromTheirOwnValues) {
  const TNetClient client;
  EXPECT_EQ(client.ServerHost, "127.0.0.1");
  EXPECT_EQ(client.ServerPort, "0");
  EXPECT_EQ(client.LocalInterface, "0.0.0.0");
  EXPECT_EQ(client.ReplyTimeout, 5000);

  TTFTPSend engine;
  EXPECT_EQ(engine.ServerHost, "127.0.0.1");
  EXPECT_EQ(engine.ServerPort, "69");  // the TFTP service port
  EXPECT_EQ(engine.LocalInterface, "0.0.0.0");
  EXPECT_EQ(engine.ReplyTimeout, 5000);
  EXPECT_EQ(engine.PeerErrorCode, 0);
  EXPECT_EQ(engine.PeerErrorText, "");
  EXPECT_EQ(engine.Content.Size(), 0);
  EXPECT_EQ(engine.Content.Position(), 0);
  EXPECT_EQ(engine.UdpSocket.Handle, kNoSocket);
}

// The default host is not only stored but used: an engine told nothing but
// the port reaches a server on the loopback address.
TEST(EngineDefaults, AnEngineGivenOnlyThePortTalksToTheLoopbackHost) {
  ScriptedPeer peer;
  TTFTPSend engine;
  engine.ServerPort = std::to_string(peer.Port());
  std::string request;
  std::thread server([&] {
    request = Expect(peer);
    peer.Reply(Data(1, "ok"));
    EXPECT_EQ(Expect(peer), Ack(1));
  });
  const bool ok = engine.GetFile("config");
  server.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(request, std::string("\0\1config\0octet\0", 15));
  EXPECT_EQ(engine.Content.Size(), 2);
}

}  // namespace
}  // namespace tarnwick::testing_support
