// The command line's engine (ClientTransfer over TransferDriver) against two
// real servers, byte for byte: tftpd-hpa (blksize, tsize, timeout; no
// windowsize) and atftpd (windowsize too). The table covers every block size
// and window size in both directions and the 0/511/512/513 boundaries, not
// their full cross product: each size, block size and window size appears at
// least once per direction, which finds the same faults in seconds.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EngineInteropSupport.h"
#include "ScriptedPeer.h"

namespace tarnwick::testing_support {
namespace {

using tftp::TransferKind;
using tftp::TransferState;

struct Row {
  ServerKind server;
  TransferKind kind;
  std::size_t size;
  std::optional<std::uint32_t> blockSize;
  std::optional<std::uint32_t> windowSize;
  bool tsize = false;
  std::optional<std::uint32_t> timeout;
};

Row R(ServerKind server, TransferKind kind, std::size_t size, std::optional<std::uint32_t> blockSize,
      std::optional<std::uint32_t> windowSize, bool tsize = false,
      std::optional<std::uint32_t> timeout = {}) {
  return Row{server, kind, size, blockSize, windowSize, tsize, timeout};
}

constexpr std::size_t kMiB = 1048576;
// More than 65535 blocks of 512 bytes: the block number wraps to 0.
constexpr std::size_t kWrapping = 65536u * 512u + 100u;

std::string Describe(const Row& r) {
  std::string s = std::string(ServerName(r.server)) + (r.kind == TransferKind::Get ? " get " : " put ") +
                  std::to_string(r.size) + " bytes";
  if (r.blockSize) s += " blksize " + std::to_string(*r.blockSize);
  if (r.windowSize) s += " windowsize " + std::to_string(*r.windowSize);
  if (r.tsize) s += " tsize";
  if (r.timeout) s += " timeout " + std::to_string(*r.timeout);
  return s;
}

// What the server agrees to: tftpd-hpa has no windowsize, so it stays 1.
std::uint32_t ExpectedWindow(const Row& r) {
  return r.server == ServerKind::Atftpd ? r.windowSize.value_or(1) : 1;
}

class EngineInterop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (ServerKind kind : {ServerKind::TftpdHpa, ServerKind::Atftpd}) servers[kind] = StartServer(kind);
  }
  static void TearDownTestSuite() { servers.clear(); }

  RealServer& Server(ServerKind kind) {
    RealServer& s = *servers.at(kind);
    // A missing peer is a failure, never a skip.
    EXPECT_EQ(s.Unavailable(), "") << ServerName(kind);
    return s;
  }

  // Runs the rows one batch per server (all transfers of a server at once on
  // one driver) and checks each byte for byte.
  void RunTable(const std::vector<Row>& rows) {
    for (ServerKind kind : {ServerKind::TftpdHpa, ServerKind::Atftpd}) {
      RealServer& server = Server(kind);
      if (!server.Unavailable().empty()) continue;
      std::vector<TransferJob> jobs;
      std::vector<const Row*> used;
      for (const Row& r : rows) {
        if (r.server != kind) continue;
        const std::string name = "t" + std::to_string(serial++) + ".bin";
        TransferJob job;
        job.request = LoopbackRequest(r.kind, name);
        job.request.blockSize = r.blockSize;
        job.request.windowSize = r.windowSize;
        job.request.transferSize = r.tsize;
        job.request.timeoutSeconds = r.timeout;
        const std::string file = Pattern(r.size, static_cast<unsigned>(serial));
        if (r.kind == TransferKind::Get) {
          server.WriteFile(name, file);
        } else {
          job.put = file;
        }
        jobs.push_back(std::move(job));
        used.push_back(&r);
      }
      RunTransfers(server.Port(), jobs);
      for (std::size_t i = 0; i < jobs.size(); ++i) {
        const Row& r = *used[i];
        const TransferJob& job = jobs[i];
        SCOPED_TRACE(Describe(r));
        ASSERT_EQ(job.outcome.state, TransferState::Succeeded) << job.outcome.reason;
        const std::string& sent =
            r.kind == TransferKind::Get ? server.ReadFile(job.request.remoteName) : job.put;
        const std::string& arrived =
            r.kind == TransferKind::Get ? job.got : server.ReadUpload(job.request.remoteName, r.size);
        EXPECT_EQ(arrived.size(), r.size);
        EXPECT_TRUE(arrived == sent) << "contents differ";
        EXPECT_EQ(job.outcome.bytes, r.size);
        EXPECT_EQ(job.outcome.agreed.blockSize, r.blockSize.value_or(512));
        EXPECT_EQ(job.outcome.agreed.windowSize, ExpectedWindow(r));
        if (r.timeout) {
          EXPECT_EQ(job.outcome.agreed.timeoutSeconds, r.timeout);
        }
        if (r.tsize && r.kind == TransferKind::Get) {
          EXPECT_EQ(job.outcome.agreed.transferSize, r.size);
        }
      }
    }
  }

  static std::map<ServerKind, std::unique_ptr<RealServer>> servers;
  static inline int serial = 0;
};
std::map<ServerKind, std::unique_ptr<RealServer>> EngineInterop::servers;

TEST_F(EngineInterop, BlockBoundariesInBothDirections) {
  std::vector<Row> rows;
  for (ServerKind server : {ServerKind::TftpdHpa, ServerKind::Atftpd})
    for (TransferKind kind : {TransferKind::Get, TransferKind::Put})
      for (std::size_t size : {0u, 511u, 512u, 513u}) {
        rows.push_back(R(server, kind, size, std::nullopt, std::nullopt));
        // The same boundaries with a window, where the last window is short.
        if (server == ServerKind::Atftpd) rows.push_back(R(server, kind, size, 512u, 4u));
      }
  RunTable(rows);
}

TEST_F(EngineInterop, EveryBlockSizeAndWindowSizeOnAMebibyte) {
  using S = ServerKind;
  using K = TransferKind;
  RunTable({
      R(S::TftpdHpa, K::Get, kMiB, 512u, std::nullopt),
      R(S::TftpdHpa, K::Get, kMiB, 1428u, std::nullopt, true),
      R(S::TftpdHpa, K::Get, kMiB, 8192u, std::nullopt, false, 3u),
      R(S::TftpdHpa, K::Get, kMiB, 65464u, std::nullopt),
      R(S::TftpdHpa, K::Put, kMiB, 512u, std::nullopt, true),
      R(S::TftpdHpa, K::Put, kMiB, 1428u, std::nullopt),
      R(S::TftpdHpa, K::Put, kMiB, 8192u, std::nullopt),
      R(S::TftpdHpa, K::Put, kMiB, 65464u, std::nullopt, false, 2u),
      // tftpd-hpa leaves windowsize out of its OACK: the engine falls back to 1.
      R(S::TftpdHpa, K::Get, kMiB + 7, 1428u, 16u),
      R(S::TftpdHpa, K::Put, kMiB + 7, 1428u, 16u),
      R(S::Atftpd, K::Get, kMiB, 512u, 1u),
      R(S::Atftpd, K::Get, kMiB, 1428u, 16u, true),
      R(S::Atftpd, K::Get, kMiB, 8192u, 64u),
      R(S::Atftpd, K::Get, kMiB, 65464u, 4u, false, 2u),
      R(S::Atftpd, K::Put, kMiB, 512u, 64u),
      R(S::Atftpd, K::Put, kMiB, 1428u, 4u, true),
      R(S::Atftpd, K::Put, kMiB, 8192u, 1u),
      R(S::Atftpd, K::Put, kMiB, 65464u, 16u),
  });
}

TEST_F(EngineInterop, MoreThan65535BlocksWrapTheBlockNumber) {
  using S = ServerKind;
  using K = TransferKind;
  RunTable({
      R(S::TftpdHpa, K::Get, kWrapping, 512u, std::nullopt),
      R(S::TftpdHpa, K::Put, kWrapping, 512u, std::nullopt),
      R(S::Atftpd, K::Get, kWrapping, 512u, 16u),
      R(S::Atftpd, K::Put, kWrapping, 512u, 16u),
  });
}

}  // namespace
}  // namespace tarnwick::testing_support
