// The command line's engine through the impairment relay (seeded, so every
// run sees the same pattern): loss, duplication and reordering must never
// change a byte, and a server that never answers must fail the transfer
// with the cause once its retries are spent.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "EngineInteropSupport.h"
#include "ImpairRelay.h"
#include "ScriptedPeer.h"
#include "tftp/TransferDriver.h"

namespace tarnwick::testing_support {
namespace {

using tftp::TransferKind;
using tftp::TransferState;

struct Batch {
  TransferKind kind;
  std::size_t size;
  std::optional<std::uint32_t> blockSize;
  std::optional<std::uint32_t> windowSize;
};

// Runs `count` transfers of each batch at once through a relay with the
// given options in front of the server, and checks every file and the bound on retransmissions.
void RunThroughRelay(ServerKind kind, const std::vector<std::string>& relayOptions,
                     const std::vector<Batch>& batches, int count,
                     std::optional<std::uint64_t> maxRetransmissions = std::nullopt) {
  std::unique_ptr<RealServer> server = StartServer(kind);
  ASSERT_EQ(server->Unavailable(), "");
  ImpairRelay relay(server->Port(), relayOptions);
  ASSERT_EQ(relay.Unavailable(), "");
  std::vector<TransferJob> jobs;
  std::vector<std::string> files;
  int serial = 0;
  for (const Batch& b : batches)
    for (int i = 0; i < count; ++i, ++serial) {
      const std::string name = "r" + std::to_string(serial) + ".bin";
      files.push_back(Pattern(b.size, static_cast<unsigned>(serial) + 11));
      TransferJob job;
      job.request = LoopbackRequest(b.kind, name);
      job.request.blockSize = b.blockSize;
      job.request.windowSize = b.windowSize;
      job.request.maxWait = std::chrono::milliseconds(1000);
      job.request.retries = 20;
      if (b.kind == TransferKind::Get) {
        server->WriteFile(name, files.back());
      } else {
        job.put = files.back();
      }
      jobs.push_back(std::move(job));
    }
  RunTransfers(relay.Port(), jobs);
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const TransferJob& job = jobs[i];
    SCOPED_TRACE(job.request.remoteName + (job.request.kind == TransferKind::Get ? " get" : " put"));
    EXPECT_EQ(job.outcome.state, TransferState::Succeeded)
        << job.outcome.reason << " (" << job.outcome.bytes << " bytes acknowledged, "
        << job.outcome.retransmissions << " retransmissions)";
    EXPECT_LE(job.outcome.retransmissions, maxRetransmissions.value_or(job.outcome.retransmissions));
    if (job.outcome.state != TransferState::Succeeded) continue;
    const std::string arrived = job.request.kind == TransferKind::Get
                                    ? job.got
                                    : server->ReadUpload(job.request.remoteName, files[i].size());
    EXPECT_EQ(arrived.size(), files[i].size());
    EXPECT_TRUE(arrived == files[i]) << "contents differ";
  }
  const std::string stats = relay.Stop();
  EXPECT_NE(stats, "") << "the relay did not stop cleanly";
  std::printf("%s\n", stats.c_str());
}

// Twenty windowed gets of 1 MiB at 5% loss each way, and windowed puts with
// their DATA lost on the way out. atftpd does not dally after the last ACK
// of an upload, so a lost final ACK of a put cannot be told from a lost last
// block by any client: that case is left to the lock-step test against
// tftpd-hpa, which answers a repeated last block for a moment.
TEST(EngineImpaired, FivePercentLossEachWayTwentyMebibytesArriveIntact) {
  RunThroughRelay(ServerKind::Atftpd, {"--loss", "0.05", "--seed", "5"},
                  {{TransferKind::Get, 1048576, 8192u, 8u}}, 20);
  RunThroughRelay(ServerKind::Atftpd, {"--c2s-loss", "0.05", "--seed", "5"},
                  {{TransferKind::Put, 1048576, 8192u, 8u}}, 10, 129);  // no more than its 129 blocks again
}

TEST(EngineImpaired, LossInLockStepWithTftpdHpa) {
  RunThroughRelay(ServerKind::TftpdHpa, {"--loss", "0.05", "--seed", "6"},
                  {{TransferKind::Get, 262144 + 3, 8192u, std::nullopt},
                   {TransferKind::Put, 262144 + 3, 8192u, std::nullopt}},
                  2);
}

TEST(EngineImpaired, ThirtyPercentDuplicationDoublesNoByte) {
  for (ServerKind kind : {ServerKind::TftpdHpa, ServerKind::Atftpd}) {
    SCOPED_TRACE(ServerName(kind));
    const std::optional<std::uint32_t> window =
        kind == ServerKind::Atftpd ? std::optional<std::uint32_t>(8) : std::nullopt;
    RunThroughRelay(kind, {"--dup", "0.3", "--seed", "7"},
                    {{TransferKind::Get, 300000, 1428u, window}, {TransferKind::Put, 300000, 1428u, window}},
                    2);
  }
}

TEST(EngineImpaired, ReorderingInsideAWindowIsRecovered) {
  RunThroughRelay(ServerKind::Atftpd,
                  {"--reorder", "0.2", "--reorder-depth", "2", "--hold-max", "50", "--seed", "8"},
                  {{TransferKind::Get, 500000, 1428u, 16u}, {TransferKind::Put, 500000, 1428u, 16u}}, 2);
}

TEST(EngineImpaired, DelayAndJitterOnlySlowTheTransfer) {
  RunThroughRelay(ServerKind::Atftpd, {"--delay", "2", "--jitter", "3", "--seed", "9"},
                  {{TransferKind::Get, 200000, 1428u, 16u}, {TransferKind::Put, 200000, 1428u, 4u}}, 1);
}

TEST(EngineImpaired, DeadServerFailsAfterTheRetriesWithTheCause) {
  std::unique_ptr<RealServer> server = StartServer(ServerKind::TftpdHpa);
  ASSERT_EQ(server->Unavailable(), "");
  ImpairRelay relay(server->Port(), {"--loss", "1"});
  ASSERT_EQ(relay.Unavailable(), "");
  std::vector<TransferJob> jobs(2);
  jobs[0].request = LoopbackRequest(TransferKind::Get, "any.bin");
  jobs[1].request = LoopbackRequest(TransferKind::Put, "any.bin");
  jobs[1].put = "x";
  for (TransferJob& job : jobs) job.request.retries = 3;
  RunTransfers(relay.Port(), jobs);
  const std::string where = "127.0.0.1:" + std::to_string(relay.Port());
  for (const TransferJob& job : jobs) {
    EXPECT_EQ(job.outcome.state, TransferState::Failed);
    EXPECT_NE(job.outcome.reason.find("no answer"), std::string::npos) << job.outcome.reason;
    EXPECT_NE(job.outcome.reason.find(where), std::string::npos) << job.outcome.reason;
    EXPECT_EQ(job.outcome.retransmissions, 3u);
    EXPECT_EQ(job.outcome.bytes, 0u);
  }
  const std::string stats = relay.Stop();
  // The request and three retransmissions each, nothing more.
  EXPECT_NE(stats.find("c2s received 8 lost 8"), std::string::npos) << stats;
}

}  // namespace
}  // namespace tarnwick::testing_support
