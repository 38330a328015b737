// More than 65535 blocks each way against the real server: the block number
// wraps from 65535 to 0 and the transfer goes on.
#include <gtest/gtest.h>

#include "../support/RequiredPeer.h"
#include "ScriptedPeer.h"
#include "TftpdServer.h"
#include "tftp/TFTPSend.h"

namespace tarnwick::testing_support {
namespace {

TEST(TftpdWrap, ThirtyThreeMebibytesBothWays) {
  TftpdServer server;
  if (!server.Unavailable().empty()) TARNWICK_MISSING_PEER(server.Unavailable());
  // 67585 blocks: past the wrap, ending in a short block.
  const std::string file = Pattern(33u * 1024 * 1024 + 100, 33);
  server.WriteFile("big.bin", file);
  TTFTPSend engine;
  engine.ServerPort = std::to_string(server.Port());
  ASSERT_TRUE(engine.GetFile("big.bin")) << engine.PeerErrorCode << " " << engine.PeerErrorText;
  ASSERT_EQ(engine.Content.Size(), static_cast<std::int64_t>(file.size()));
  EXPECT_TRUE(std::string(engine.Content.Memory(), file.size()) == file);
  ASSERT_TRUE(engine.PutFile("big-up.bin")) << engine.PeerErrorCode << " " << engine.PeerErrorText;
  EXPECT_TRUE(server.ReadFile("big-up.bin") == file);
}

}  // namespace
}  // namespace tarnwick::testing_support
