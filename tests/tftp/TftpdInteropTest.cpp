// The engine against a real TFTP server (tftpd-hpa): both directions, byte
// for byte, around the block boundaries.
#include <gtest/gtest.h>

#include <memory>

#include "../support/RequiredPeer.h"
#include "ScriptedPeer.h"
#include "TftpdServer.h"
#include "tftp/TFTPSend.h"

namespace tarnwick::testing_support {
namespace {

class TftpdInterop : public ::testing::Test {
 protected:
  // One server for the whole suite, started only when the suite runs.
  static void SetUpTestSuite() { serverHolder = std::make_unique<TftpdServer>(); }
  static void TearDownTestSuite() { serverHolder.reset(); }
  void SetUp() override {
    if (!server.Unavailable().empty()) TARNWICK_MISSING_PEER(server.Unavailable());
    engine.ServerPort = std::to_string(server.Port());
  }
  static std::unique_ptr<TftpdServer> serverHolder;
  TftpdServer& server = *serverHolder;
  TTFTPSend engine;
};
std::unique_ptr<TftpdServer> TftpdInterop::serverHolder;

std::string ContentOf(TTFTPSend& engine) {
  return std::string(engine.Content.Memory() ? engine.Content.Memory() : "",
                     static_cast<std::size_t>(engine.Content.Size()));
}

TEST_F(TftpdInterop, GetAndPutAroundBlockBoundaries) {
  for (std::size_t size : {0u, 511u, 512u, 513u, 1048576u}) {
    SCOPED_TRACE(size);
    const std::string name = "get-" + std::to_string(size) + ".bin";
    const std::string file = Pattern(size, static_cast<unsigned>(size) + 3);
    server.WriteFile(name, file);
    ASSERT_TRUE(engine.GetFile(name)) << engine.PeerErrorCode << " " << engine.PeerErrorText;
    EXPECT_EQ(ContentOf(engine), file);

    const std::string upName = "put-" + std::to_string(size) + ".bin";
    ASSERT_TRUE(engine.PutFile(upName)) << engine.PeerErrorCode << " " << engine.PeerErrorText;
    EXPECT_EQ(server.ReadFile(upName), file);
  }
}

TEST_F(TftpdInterop, MissingFileReportsTheServersError) {
  EXPECT_FALSE(engine.GetFile("no-such-file"));
  EXPECT_EQ(engine.PeerErrorCode, 1);
  EXPECT_EQ(engine.PeerErrorText, "File not found");
}

}  // namespace
}  // namespace tarnwick::testing_support
