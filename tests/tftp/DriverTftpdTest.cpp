// The command line's engine and driver against a real server (tftpd-hpa):
// both directions around the block boundaries, with and without options,
// every transfer of a set running at once on one driver.
#include <gtest/gtest.h>

#include <memory>

#include "ClientTransferHarness.h"
#include "ScriptedPeer.h"
#include "TftpdServer.h"

namespace tarnwick::testing_support {
namespace {

using tftp::TransferDriver;

struct OptionSet {
  const char* name;
  std::optional<std::uint32_t> blksize;
  std::optional<std::uint32_t> window;
  std::optional<std::uint32_t> timeout;
  bool tsize;
};
const OptionSet kSets[] = {
    {"plain", {}, {}, {}, false},
    {"blksize 1428 tsize", 1428, {}, {}, true},
    {"blksize 1024 windowsize 8 timeout 2 tsize", 1024, 8, 2, true},
};
const std::size_t kSizes[] = {0, 511, 512, 513, 1024 * 1024 + 1};

TransferRequest Request(TransferKind kind, const std::string& name, const OptionSet& set) {
  TransferRequest r;
  r.kind = kind;
  r.remoteName = name;
  r.blockSize = set.blksize;
  r.windowSize = set.window;
  r.timeoutSeconds = set.timeout;
  r.transferSize = set.tsize;
  return r;
}

class DriverTftpd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { serverHolder = std::make_unique<TftpdServer>(); }
  static void TearDownTestSuite() { serverHolder.reset(); }
  void SetUp() override {
    // A missing server is a failure here, never a skip.
    ASSERT_TRUE(server.Unavailable().empty()) << server.Unavailable();
    address = tftp::ResolveServer("127.0.0.1", std::to_string(server.Port()));
  }
  static std::unique_ptr<TftpdServer> serverHolder;
  TftpdServer& server = *serverHolder;
  SocketAddress address{};
};
std::unique_ptr<TftpdServer> DriverTftpd::serverHolder;

TEST_F(DriverTftpd, GetAndPutAroundBlockBoundariesAllAtOnce) {
  for (const OptionSet& set : kSets) {
    SCOPED_TRACE(set.name);
    std::vector<std::string> files;
    std::vector<std::unique_ptr<MemorySink>> sinks;
    std::vector<std::unique_ptr<MemorySource>> sources;
    std::vector<std::unique_ptr<ClientTransfer>> transfers;
    TransferDriver driver;
    for (std::size_t size : kSizes) {
      const std::string tag = std::string(set.blksize ? "o" : "p") + std::to_string(set.window.value_or(1)) +
                              "-" + std::to_string(size);
      files.push_back(Pattern(size, static_cast<unsigned>(size) + 11));
      server.WriteFile("get-" + tag, files.back());
      sinks.push_back(std::make_unique<MemorySink>());
      transfers.push_back(std::make_unique<ClientTransfer>(Request(TransferKind::Get, "get-" + tag, set),
                                                           address, sinks.back().get(), nullptr));
      driver.Add(*transfers.back());
      sources.push_back(std::make_unique<MemorySource>(files.back()));
      transfers.push_back(std::make_unique<ClientTransfer>(Request(TransferKind::Put, "put-" + tag, set),
                                                           address, nullptr, sources.back().get()));
      driver.Add(*transfers.back());
    }
    EXPECT_TRUE(driver.Run());
    for (std::size_t i = 0; i < files.size(); ++i) {
      SCOPED_TRACE(files[i].size());
      const ClientTransfer& get = *transfers[2 * i];
      const ClientTransfer& put = *transfers[2 * i + 1];
      EXPECT_EQ(get.Outcome().state, TransferState::Succeeded) << get.Outcome().reason;
      EXPECT_EQ(put.Outcome().state, TransferState::Succeeded) << put.Outcome().reason;
      EXPECT_TRUE(sinks[i]->data == files[i]);
      EXPECT_TRUE(server.ReadFile(put.Request().remoteName) == files[i]);
      if (set.blksize) {
        EXPECT_TRUE(get.Outcome().agreed.negotiated);
        EXPECT_EQ(get.Outcome().agreed.blockSize, *set.blksize);
      }
      if (set.tsize) {
        EXPECT_EQ(get.Outcome().agreed.transferSize, files[i].size());
      }
    }
  }
}

TEST_F(DriverTftpd, MissingFileReportsTheServersError) {
  MemorySink sink;
  ClientTransfer transfer(Request(TransferKind::Get, "no-such-file", kSets[1]), address, &sink, nullptr);
  TransferDriver driver;
  driver.Add(transfer);
  EXPECT_TRUE(driver.Run());
  EXPECT_EQ(transfer.Outcome().state, TransferState::Failed);
  EXPECT_EQ(transfer.Outcome().peerErrorCode, 1);
  EXPECT_EQ(transfer.Outcome().peerErrorText, "File not found");
}

}  // namespace
}  // namespace tarnwick::testing_support
