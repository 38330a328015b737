// The command line's engine as a state machine, packet by packet: both
// directions around the block boundaries with and without options and
// windows, and one case per protocol rule it must keep.
#include <gtest/gtest.h>

#include "ClientTransferHarness.h"
#include "ModelServer.h"

namespace tarnwick::testing_support {
namespace {

std::string Bytes(std::size_t size, unsigned seed = 1) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 31 + seed * 7) ^ (i >> 8));
  return s;
}

TransferRequest Request(TransferKind kind, std::optional<std::uint32_t> blksize = {},
                        std::optional<std::uint32_t> window = {}, bool tsize = false) {
  TransferRequest r;
  r.kind = kind;
  r.remoteName = "config";
  r.blockSize = blksize;
  r.windowSize = window;
  r.transferSize = tsize;
  return r;
}

struct OptionCase {
  const char* name;
  std::optional<std::uint32_t> blksize;
  std::optional<std::uint32_t> window;
  bool tsize;
};
const OptionCase kOptionCases[] = {
    {"plain", {}, {}, false},
    {"blksize 1428", 1428, {}, false},
    {"blksize 8 window 3", 8, 3, false},
    {"window 4 tsize", {}, 4, true},
    {"blksize 1024 window 16 tsize", 1024, 16, true},
};

TEST(ClientTransfer, GetAndPutAroundBlockBoundariesWithAndWithoutOptions) {
  for (const OptionCase& c : kOptionCases) {
    for (bool honour : {true, false}) {
      const std::uint32_t bs = (honour && c.blksize) ? *c.blksize : 512;
      for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{bs - 1}, std::size_t{bs},
                               std::size_t{bs + 1}, std::size_t{bs * 5}, std::size_t{bs * 5 + 3}}) {
        SCOPED_TRACE(std::string(c.name) + (honour ? " honoured" : " ignored") + " size " +
                     std::to_string(size));
        const std::string file = Bytes(size);
        {
          MemorySource served(file);
          MemorySink sink;
          ModelServer server;
          server.honourOptions = honour;
          server.file = &served;
          Harness h(Request(TransferKind::Get, c.blksize, c.window, c.tsize), &sink, nullptr);
          ASSERT_TRUE(Play(h, server));
          ASSERT_EQ(h.transfer.Outcome().state, TransferState::Succeeded) << h.transfer.Outcome().reason;
          EXPECT_EQ(sink.data, file);
          EXPECT_EQ(h.transfer.Outcome().bytes, size);
          EXPECT_EQ(h.transfer.Outcome().agreed.blockSize, bs);
          EXPECT_EQ(h.transfer.Outcome().agreed.negotiated, honour && (c.blksize || c.window || c.tsize));
          EXPECT_TRUE(server.done);
        }
        {
          MemorySource source(file);
          MemorySink stored;
          ModelServer server;
          server.honourOptions = honour;
          server.received = &stored;
          Harness h(Request(TransferKind::Put, c.blksize, c.window, c.tsize), nullptr, &source);
          ASSERT_TRUE(Play(h, server));
          ASSERT_EQ(h.transfer.Outcome().state, TransferState::Succeeded) << h.transfer.Outcome().reason;
          EXPECT_EQ(stored.data, file);
          EXPECT_EQ(h.transfer.Outcome().bytes, size);
          EXPECT_TRUE(server.done);
        }
      }
    }
  }
}

TEST(ClientTransfer, BlockNumbersWrapIn65536BlockTransfers) {
  for (std::uint32_t window : {1u, 7u}) {
    SCOPED_TRACE(window);
    // 8-byte blocks keep the file small; 65536 + 3 blocks cross the wrap.
    const std::string file = Bytes(8 * (65536 + 2) + 5);
    MemorySource served(file);
    MemorySink sink;
    ModelServer getServer;
    getServer.file = &served;
    Harness get(Request(TransferKind::Get, 8, window), &sink, nullptr);
    ASSERT_TRUE(Play(get, getServer));
    ASSERT_EQ(get.transfer.Outcome().state, TransferState::Succeeded) << get.transfer.Outcome().reason;
    EXPECT_TRUE(sink.data == file);

    MemorySource source(file);
    MemorySink stored;
    ModelServer putServer;
    putServer.received = &stored;
    Harness put(Request(TransferKind::Put, 8, window), nullptr, &source);
    ASSERT_TRUE(Play(put, putServer));
    ASSERT_EQ(put.transfer.Outcome().state, TransferState::Succeeded) << put.transfer.Outcome().reason;
    EXPECT_TRUE(stored.data == file);
    EXPECT_EQ(put.transfer.Outcome().retransmissions, 0u);
  }
}

TEST(ClientTransfer, RequestBytesArePinned) {
  MemorySink sink;
  Harness plain(Request(TransferKind::Get), &sink, nullptr);
  auto sent = plain.Start();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].bytes, std::string("\0\1config\0octet\0", 15));
  EXPECT_TRUE(SameEndpoint(sent[0].to, V4(1, 69)));

  MemorySource source(Bytes(1234));
  TransferRequest r = Request(TransferKind::Put, 1428, 8, true);
  r.timeoutSeconds = 3;
  Harness options(r, nullptr, &source);
  sent = options.Start();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].bytes, std::string("\0\2config\0octet\0blksize\0"
                                       "1428\0tsize\0"
                                       "1234\0timeout\0"
                                       "3\0windowsize\0"
                                       "8\0",
                                       62));
}

TEST(ClientTransfer, InvalidOptionValuesFailBeforeSending) {
  for (auto [bs, ws] : {std::pair<std::uint32_t, std::uint32_t>{7, 1}, {65465, 1}, {512, 0}, {512, 65536}}) {
    MemorySink sink;
    Harness h(Request(TransferKind::Get, bs, ws), &sink, nullptr);
    EXPECT_TRUE(h.Start().empty());
    EXPECT_EQ(h.transfer.Outcome().state, TransferState::Failed);
    EXPECT_NE(h.transfer.Outcome().reason.find("outside"), std::string::npos) << h.transfer.Outcome().reason;
  }
}

}  // namespace
}  // namespace tarnwick::testing_support
