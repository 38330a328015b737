// Files past 4 GiB both ways at the largest block size: 64-bit offsets and
// wrapped block numbers, with a pattern generated and checked on the fly.
#include <gtest/gtest.h>

#include "ClientTransferHarness.h"
#include "ModelServer.h"

namespace tarnwick::testing_support {
namespace {

TEST(ClientTransferLarge, GetAndPutPast4GiBAtBlockSize65464) {
  const std::uint64_t size = (std::uint64_t{1} << 32) + 65464 * 3 + 17;
  for (TransferKind kind : {TransferKind::Get, TransferKind::Put}) {
    SCOPED_TRACE(kind == TransferKind::Get ? "get" : "put");
    PatternSource source(size);
    PatternSink sink;
    ModelServer server;
    TransferRequest r;
    r.kind = kind;
    r.remoteName = "big";
    r.blockSize = 65464;
    r.windowSize = 4;
    r.transferSize = true;
    std::unique_ptr<Harness> h;
    if (kind == TransferKind::Get) {
      server.file = &source;
      h = std::make_unique<Harness>(r, &sink, nullptr);
    } else {
      server.received = &sink;
      h = std::make_unique<Harness>(r, nullptr, &source);
    }
    ASSERT_TRUE(Play(*h, server));
    ASSERT_EQ(h->transfer.Outcome().state, TransferState::Succeeded) << h->transfer.Outcome().reason;
    EXPECT_EQ(sink.size, size);
    EXPECT_EQ(sink.mismatches, 0u);
    EXPECT_EQ(h->transfer.Outcome().bytes, size);
    EXPECT_EQ(h->transfer.Outcome().agreed.blockSize, 65464u);
    if (kind == TransferKind::Get) {
      EXPECT_EQ(h->transfer.Outcome().agreed.transferSize, size);
    }
  }
}

}  // namespace
}  // namespace tarnwick::testing_support
