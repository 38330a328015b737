// One case per protocol rule of the command line's engine, scripted packet
// by packet on a fake clock.
#include <gtest/gtest.h>

#include "ClientTransferHarness.h"
#include "ModelServer.h"

namespace tarnwick::testing_support {
namespace {

const SocketAddress kServer = V4(1, 69);
const SocketAddress kTid = V4(1, 40000);
const SocketAddress kStranger = V4(1, 40001);
const SocketAddress kOtherHost = V4(9, 40000);

TransferRequest Get(std::optional<std::uint32_t> blksize = {}, std::optional<std::uint32_t> window = {},
                    bool tsize = false) {
  TransferRequest r;
  r.remoteName = "f";
  r.blockSize = blksize;
  r.windowSize = window;
  r.transferSize = tsize;
  return r;
}
TransferRequest Put(std::optional<std::uint32_t> blksize = {}, std::optional<std::uint32_t> window = {}) {
  TransferRequest r = Get(blksize, window);
  r.kind = TransferKind::Put;
  return r;
}

std::string Block(std::size_t n, char c = 'x') { return std::string(n, c); }

// One datagram to `to` with exactly these bytes.
void ExpectSent(const std::vector<Outbox::Datagram>& sent, const SocketAddress& to,
                const std::string& bytes) {
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(SameEndpoint(sent[0].to, to));
  EXPECT_EQ(sent[0].bytes, bytes);
}

TEST(ClientTransferRules, StrangerGetsError5AndTheTransferGoesOn) {
  MemorySink sink;
  Harness h(Get(), &sink, nullptr);
  h.Start();
  ExpectSent(h.Feed(kTid, DataPacket(1, Block(512, 'a'))), kTid, AckPacket(1));
  // Another port of the same host, and another host.
  for (const SocketAddress& from : {kStranger, kServer, kOtherHost}) {
    ExpectSent(h.Feed(from, DataPacket(2, Block(10, 'z'))), from, ErrorPacket(5, "Unknown transfer ID"));
  }
  // Strangers' junk and errors are simply dropped.
  EXPECT_TRUE(h.Feed(kStranger, "\0\3").empty());
  EXPECT_TRUE(h.Feed(kStranger, ErrorPacket(0, "x")).empty());
  EXPECT_TRUE(h.Feed(kStranger, Word(9) + Word(1)).empty());
  ExpectSent(h.Feed(kTid, DataPacket(2, "end")), kTid, AckPacket(2));
  EXPECT_EQ(h.transfer.Outcome().state, TransferState::Succeeded);
  EXPECT_EQ(sink.data, Block(512, 'a') + "end");
}

TEST(ClientTransferRules, FirstAnswerFromAnotherHostIsAStranger) {
  MemorySink sink;
  Harness h(Get(), &sink, nullptr);
  h.Start();
  ExpectSent(h.Feed(kOtherHost, DataPacket(1, "evil")), kOtherHost, ErrorPacket(5, "Unknown transfer ID"));
  ExpectSent(h.Feed(kTid, DataPacket(1, "good")), kTid, AckPacket(1));
  EXPECT_EQ(sink.data, "good");
}

TEST(ClientTransferRules, DuplicateDataIsAcknowledgedAgainAndStoredOnce) {
  MemorySink sink;
  Harness h(Get(), &sink, nullptr);
  h.Start();
  ExpectSent(h.Feed(kTid, DataPacket(1, Block(512, 'a'))), kTid, AckPacket(1));
  ExpectSent(h.Feed(kTid, DataPacket(1, Block(512, 'a'))), kTid, AckPacket(1));
  ExpectSent(h.Feed(kTid, DataPacket(2, Block(512, 'b'))), kTid, AckPacket(2));
  // An older copy earns nothing: only the newest block is acknowledged again.
  EXPECT_TRUE(h.Feed(kTid, DataPacket(1, Block(512, 'a'))).empty());
  ExpectSent(h.Feed(kTid, DataPacket(3, "end")), kTid, AckPacket(3));
  EXPECT_EQ(h.transfer.Outcome().state, TransferState::Succeeded);
  EXPECT_EQ(sink.data, Block(512, 'a') + Block(512, 'b') + "end");
  EXPECT_EQ(sink.writes, 3);
}

TEST(ClientTransferRules, DuplicateAckNeverResends) {
  MemorySource source(Block(1500, 'p'));
  Harness h(Put(), nullptr, &source);
  h.Start();
  auto sent = h.Feed(kTid, AckPacket(0));
  ExpectSent(sent, kTid, DataPacket(1, Block(512, 'p')));
  EXPECT_TRUE(h.Feed(kTid, AckPacket(0)).empty());
  ExpectSent(h.Feed(kTid, AckPacket(1)), kTid, DataPacket(2, Block(512, 'p')));
  EXPECT_TRUE(h.Feed(kTid, AckPacket(1)).empty());
  EXPECT_TRUE(h.Feed(kTid, AckPacket(1)).empty());
  EXPECT_TRUE(h.Feed(kTid, AckPacket(7)).empty());  // never sent: ignored
  ExpectSent(h.Feed(kTid, AckPacket(2)), kTid, DataPacket(3, Block(476, 'p')));
  EXPECT_TRUE(h.Feed(kTid, AckPacket(3)).empty());
  EXPECT_EQ(h.transfer.Outcome().state, TransferState::Succeeded);
  EXPECT_EQ(h.transfer.Outcome().bytes, 1500u);
  EXPECT_EQ(h.transfer.Outcome().retransmissions, 0u);
}

TEST(ClientTransferRules, TimeOutsBackOffAndEndAfterTheRetries) {
  struct Case {
    const char* phase;
    bool put;
    int answers;  // packets of the server before it falls silent
  } cases[] = {{"request", false, 0}, {"get ACK", false, 1}, {"put DATA", true, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.phase);
    MemorySink sink;
    MemorySource source(Block(2000));
    TransferRequest r = c.put ? Put() : Get();
    r.wait = std::chrono::milliseconds(1000);
    r.maxWait = std::chrono::milliseconds(5000);
    r.retries = 4;
    Harness h(r, &sink, &source);
    auto first = h.Start();
    std::string last = first[0].bytes;
    SocketAddress target = kServer;
    if (c.answers) {
      auto sent = h.Feed(kTid, c.put ? AckPacket(0) : DataPacket(1, Block(512)));
      last = sent.at(0).bytes;
      target = kTid;
    }
    TimePoint before = h.now;
    for (long expected : {1000, 2000, 4000, 5000}) {
      auto sent = h.Expire();
      EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(h.now - before).count(), expected);
      before = h.now;
      ExpectSent(sent, target, last);
    }
    EXPECT_TRUE(h.Expire().empty());
    EXPECT_EQ(h.transfer.Outcome().state, TransferState::Failed);
    EXPECT_EQ(h.transfer.Outcome().reason,
              "no answer from " + tftp::EndpointText(target) + " after 4 retries");
    EXPECT_EQ(h.transfer.Outcome().retransmissions, 4u);
    EXPECT_EQ(h.transfer.Deadline(), TimePoint::max());
  }
}

// Fast repeats after a fast path, but a pausing device gets as long as the
// first wait doubled through the retries would give it (1 + 2 + 4 s).
TEST(ClientTransferRules, ShortMeasuredWaitsDoNotShortenThePatience) {
  MemorySink sink;
  TransferRequest r = Get();
  r.retries = 2;
  r.maxWait = std::chrono::milliseconds(4000);
  Harness h(r, &sink, nullptr);
  h.Start();
  for (std::uint16_t block = 1; block <= 20; ++block, h.now += std::chrono::milliseconds(2))
    h.Feed(kTid, DataPacket(block, Block(512)));
  const TimePoint lastAnswer = h.now;
  int repeats = 0;
  while (!h.transfer.Finished() && repeats < 100) repeats += static_cast<int>(h.Expire().size());
  EXPECT_GE(h.now - lastAnswer, std::chrono::milliseconds(7000));
  EXPECT_EQ(h.transfer.Outcome().reason,
            "no answer from 192.0.2.1:40000 after " + std::to_string(repeats) + " retries");
}

TEST(ClientTransferRules, ProgressRestartsTheRetryCount) {
  MemorySink sink;
  TransferRequest r = Get();
  r.retries = 1;
  Harness h(r, &sink, nullptr);
  h.Start();
  EXPECT_EQ(h.Expire().size(), 1u);  // one retry used
  h.Feed(kTid, DataPacket(1, Block(512)));
  EXPECT_EQ(h.Expire().size(), 1u);  // a fresh one after progress
  const TimePoint armed = h.now;
  h.Feed(kTid, DataPacket(2, Block(512)));
  EXPECT_EQ(h.transfer.Deadline() - armed, std::chrono::milliseconds(1000));  // wait back to the first one
  EXPECT_EQ(h.Expire().size(), 1u);
  EXPECT_TRUE(h.Expire().empty());
  EXPECT_EQ(h.transfer.Outcome().state, TransferState::Failed);
}

TEST(ClientTransferRules, Error8MeansOneRetryWithoutOptions) {
  MemorySink sink;
  Harness h(Get(1428, 4, true), &sink, nullptr);
  h.Start();
  ExpectSent(h.Feed(V4(1, 40005), ErrorPacket(8, "no options")), kServer, std::string("\0\1f\0octet\0", 10));
  ExpectSent(h.Feed(kTid, DataPacket(1, "tiny")), kTid, AckPacket(1));
  EXPECT_EQ(h.transfer.Outcome().state, TransferState::Succeeded);
  EXPECT_FALSE(h.transfer.Outcome().agreed.negotiated);

  // A second ERROR 8 ends it.
  MemorySink sink2;
  Harness h2(Get(1428), &sink2, nullptr);
  h2.Start();
  h2.Feed(kTid, ErrorPacket(8, "no"));
  EXPECT_TRUE(h2.Feed(kTid, ErrorPacket(8, " still no \n")).empty());
  EXPECT_EQ(h2.transfer.Outcome().state, TransferState::Failed);
  EXPECT_EQ(h2.transfer.Outcome().peerErrorCode, 8);
  EXPECT_EQ(h2.transfer.Outcome().peerErrorText, "still no");
}

TEST(ClientTransferRules, ServerThatIgnoresOptionsGivesPlainLockStep) {
  MemorySink sink;
  Harness h(Get(1428, 8, true), &sink, nullptr);
  h.Start();
  ExpectSent(h.Feed(kTid, DataPacket(1, Block(512))), kTid, AckPacket(1));
  ExpectSent(h.Feed(kTid, DataPacket(2, Block(3))), kTid, AckPacket(2));
  EXPECT_EQ(h.transfer.Outcome().state, TransferState::Succeeded);
  EXPECT_EQ(h.transfer.Outcome().agreed.blockSize, 512u);
  EXPECT_EQ(h.transfer.Outcome().agreed.windowSize, 1u);

  MemorySource source(Block(600));
  Harness p(Put(1428, 8), nullptr, &source);
  p.Start();
  ExpectSent(p.Feed(kTid, AckPacket(0)), kTid, DataPacket(1, Block(512)));
}

TEST(ClientTransferRules, OackSurprisesEndWithError8) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    const char* what;
    std::string oack;
    const char* reasonPart;
  } cases[] = {
      {"option not asked for", OackPacket(Pairs{{"blksize", "512"}, {"multicast", "1"}}), "multicast"},
      {"blksize above asked", OackPacket(Pairs{{"blksize", "1429"}}), "blksize"},
      {"blksize below 8", OackPacket(Pairs{{"blksize", "7"}}), "blksize"},
      {"blksize not a number", OackPacket(Pairs{{"blksize", "12a"}}), "blksize"},
      {"windowsize 0", OackPacket(Pairs{{"windowsize", "0"}}), "windowsize"},
      {"windowsize above asked", OackPacket(Pairs{{"windowsize", "5"}}), "windowsize"},
      {"timeout changed", OackPacket(Pairs{{"timeout", "4"}}), "timeout"},
      {"tsize not a number", OackPacket(Pairs{{"tsize", "-1"}}), "tsize"},
      {"option twice", OackPacket(Pairs{{"blksize", "512"}, {"BLKSIZE", "512"}}), "twice"},
      {"not terminated",
       Word(6) + std::string("blksize\0"
                             "512",
                             11),
       "malformed"},
      {"name without value", Word(6) + std::string("blksize\0", 8), "malformed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemorySink sink;
    TransferRequest r = Get(1428, 4, true);
    r.timeoutSeconds = 3;
    Harness h(r, &sink, nullptr);
    h.Start();
    auto sent = h.Feed(kTid, c.oack);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(SameEndpoint(sent[0].to, kTid));
    EXPECT_EQ(Op(sent[0].bytes), 5);
    EXPECT_EQ(Num(sent[0].bytes), 8);
    EXPECT_EQ(h.transfer.Outcome().state, TransferState::Failed);
    EXPECT_NE(h.transfer.Outcome().reason.find(c.reasonPart), std::string::npos)
        << h.transfer.Outcome().reason;
  }
  // An OACK to a request that asked for nothing.
  MemorySink sink;
  Harness plain(Get(), &sink, nullptr);
  plain.Start();
  EXPECT_EQ(Num(plain.Feed(kTid, OackPacket(Pairs{{"blksize", "512"}})).at(0).bytes), 8);
  EXPECT_EQ(plain.transfer.Outcome().state, TransferState::Failed);
}

TEST(ClientTransferRules, AcceptedOackIsApplied) {
  MemorySink sink;
  TransferRequest r = Get(1428, 4, true);
  r.timeoutSeconds = 3;
  Harness h(r, &sink, nullptr);
  h.Start();
  ExpectSent(
      h.Feed(kTid,
             OackPacket({{"BlkSize", "600"}, {"tsize", "1300"}, {"timeout", "3"}, {"windowsize", "2"}})),
      kTid, AckPacket(0));
  EXPECT_EQ(h.transfer.ExpectedSize(), 1300u);
  EXPECT_EQ(h.transfer.Deadline() - h.now, std::chrono::seconds(3));  // the agreed timeout is our wait
  // The OACK again (our ACK 0 was lost): ACK 0 again.
  ExpectSent(h.Feed(kTid, OackPacket({{"blksize", "600"}})), kTid, AckPacket(0));
  EXPECT_TRUE(h.Feed(kTid, DataPacket(1, Block(600))).empty());  // window of 2
  ExpectSent(h.Feed(kTid, DataPacket(2, Block(600))), kTid, AckPacket(2));
  ExpectSent(h.Feed(kTid, DataPacket(3, Block(100))), kTid, AckPacket(3));
  EXPECT_EQ(h.transfer.Outcome().state, TransferState::Succeeded);
  EXPECT_EQ(h.transfer.Outcome().agreed.blockSize, 600u);
  EXPECT_EQ(h.transfer.Outcome().agreed.windowSize, 2u);
  EXPECT_EQ(h.transfer.Outcome().agreed.timeoutSeconds, 3u);

  // A put that sends options anyway asks for the server's timer too (our
  // first wait in whole seconds), to learn it: its own waits stay its own.
  TransferRequest learn = Put(1428);
  learn.wait = std::chrono::milliseconds(300);
  MemorySource source(Block(2000));
  Harness p(learn, nullptr, &source);
  EXPECT_EQ(RequestOptions(p.Start().at(0).bytes)["timeout"], "1");
  ASSERT_EQ(p.Feed(kTid, OackPacket({{"blksize", "1428"}, {"timeout", "1"}})).size(), 1u);
  EXPECT_EQ(p.transfer.Deadline() - p.now, std::chrono::milliseconds(300));
}

TEST(ClientTransferRules, TransferSizeMismatchFails) {
  for (std::uint64_t announced : {99u, 101u}) {
    MemorySink sink;
    Harness h(Get({}, {}, true), &sink, nullptr);
    h.Start();
    h.Feed(kTid, OackPacket({{"tsize", std::to_string(announced)}}));
    ExpectSent(h.Feed(kTid, DataPacket(1, Block(100))), kTid, AckPacket(1));
    EXPECT_EQ(h.transfer.Outcome().state, TransferState::Failed);
    EXPECT_EQ(h.transfer.Outcome().reason,
              "received 100 bytes, the server announced " + std::to_string(announced));
  }
}

TEST(ClientTransferRules, OversizeDataFailsWithoutStoring) {
  for (auto [asked, agreed] : {std::pair<int, int>{0, 512}, {1428, 1000}}) {
    MemorySink sink;
    Harness h(asked ? Get(asked) : Get(), &sink, nullptr);
    h.Start();
    if (asked) h.Feed(kTid, OackPacket({{"blksize", std::to_string(agreed)}}));
    auto sent = h.Feed(kTid, DataPacket(1, Block(agreed + 1)));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Op(sent[0].bytes), 5);
    EXPECT_EQ(h.transfer.Outcome().state, TransferState::Failed);
    EXPECT_EQ(h.transfer.Outcome().reason, "block 1 is " + std::to_string(agreed + 1) +
                                               " bytes, more than the agreed " + std::to_string(agreed));
    EXPECT_TRUE(sink.data.empty());
  }
}

// Junk from the server ends a running transfer cleanly; before, it is a stray.
TEST(ClientTransferRules, MalformedDatagramsFromTheServerFailCleanly) {
  const std::string cases[] = {
      std::string(),     std::string("\0", 1), std::string("\0\3", 2), std::string("\0\3\0", 3),
      Word(9) + Word(1), Word(0) + Word(1),    Word(1) + "x",          AckPacket(1)};
  for (bool running : {false, true}) {
    for (const std::string& bad : cases) {
      SCOPED_TRACE(::testing::PrintToString(bad) + (running ? " running" : " answer"));
      MemorySink sink;
      Harness h(Get(), &sink, nullptr);
      h.Start();
      if (running) h.Feed(kTid, DataPacket(1, Block(512)));
      h.Feed(kTid, bad);
      if (!running) {  // no valid answer to the request: dropped, the wait goes on
        ExpectSent(h.Feed(kTid, DataPacket(1, "ok")), kTid, AckPacket(1));
        EXPECT_EQ(h.transfer.Outcome().state, TransferState::Succeeded);
        continue;
      }
      EXPECT_EQ(h.transfer.Outcome().state, TransferState::Failed);
      EXPECT_FALSE(h.transfer.Outcome().reason.empty());
      EXPECT_EQ(h.transfer.Outcome().peerErrorCode, -1);
    }
  }
  // Answers that only ever come from another host are named as such.
  MemorySink sink;
  TransferRequest r = Get();
  r.retries = 0;
  Harness h(r, &sink, nullptr);
  h.Start();
  h.Feed(kOtherHost, DataPacket(1, "x"));
  h.Expire();
  EXPECT_EQ(h.transfer.Outcome().reason,
            "answers came from 192.0.2.9:40000, not from the server's address (192.0.2.1:69)");
}

TEST(ClientTransferRules, ServerErrorsSetCodeAndTrimmedText) {
  struct Case {
    std::string packet;
    int code;
    const char* text;
  } cases[] = {
      {ErrorPacket(1, "File not found"), 1, "File not found"},
      {ErrorPacket(2, "  Access violation\r\n"), 2, "Access violation"},
      {Word(5) + Word(3) + "no terminator", 3, "no terminator"},
      {Word(5) + Word(0), 0, ""},
      {Word(5) + Word(7) + std::string("a\0b", 3), 7, "a"},
  };
  for (bool put : {false, true}) {
    for (const Case& c : cases) {
      MemorySink sink;
      MemorySource source(Block(10));
      Harness h(put ? Put() : Get(), &sink, &source);
      h.Start();
      EXPECT_TRUE(h.Feed(kTid, c.packet).empty());
      EXPECT_EQ(h.transfer.Outcome().state, TransferState::Failed);
      EXPECT_EQ(h.transfer.Outcome().peerErrorCode, c.code);
      EXPECT_EQ(h.transfer.Outcome().peerErrorText, c.text);
    }
  }
}

TEST(ClientTransferRules, ReceiverAcknowledgesTheLastInOrderBlockOnAGap) {
  MemorySink sink;
  Harness h(Get(8, 4), &sink, nullptr);
  h.Start();
  h.Feed(kTid, OackPacket({{"blksize", "8"}, {"windowsize", "4"}}));
  EXPECT_TRUE(h.Feed(kTid, DataPacket(1, "11111111")).empty());
  EXPECT_TRUE(h.Feed(kTid, DataPacket(2, "22222222")).empty());
  ExpectSent(h.Feed(kTid, DataPacket(4, "44444444")), kTid, AckPacket(2));  // 3 went missing
  EXPECT_TRUE(h.Feed(kTid, DataPacket(5, "55555555")).empty());             // dropped, no second ACK
  // The server goes back to 3 and sends a full window.
  EXPECT_TRUE(h.Feed(kTid, DataPacket(3, "33333333")).empty());
  EXPECT_TRUE(h.Feed(kTid, DataPacket(4, "44444444")).empty());
  EXPECT_TRUE(h.Feed(kTid, DataPacket(5, "55555555")).empty());
  ExpectSent(h.Feed(kTid, DataPacket(6, "66666666")), kTid, AckPacket(6));
  // The same window again (our ACK was lost): one ACK, for its newest block.
  for (std::uint16_t b = 3; b <= 5; ++b) EXPECT_TRUE(h.Feed(kTid, DataPacket(b, Block(8))).empty());
  ExpectSent(h.Feed(kTid, DataPacket(6, Block(8))), kTid, AckPacket(6));
  ExpectSent(h.Feed(kTid, DataPacket(7, "7")), kTid, AckPacket(7));
  EXPECT_EQ(h.transfer.Outcome().state, TransferState::Succeeded);
  EXPECT_EQ(sink.data,
            "111111112222222233333333444444445555555566666666"
            "7");
}

TEST(ClientTransferRules, SenderSlidesOnAnyAckAndResendsTheWindowOnTimeOut) {
  std::string file;
  for (char c = 'a'; c <= 'j'; ++c) file += std::string(8, c);  // 10 full blocks, then an empty one
  MemorySource source(file);
  Harness h(Put(8, 4), nullptr, &source);
  h.Start();
  auto sent = h.Feed(kTid, OackPacket({{"blksize", "8"}, {"windowsize", "4"}}));
  ASSERT_EQ(sent.size(), 4u);
  for (std::uint16_t i = 0; i < 4; ++i) EXPECT_EQ(sent[i].bytes, DataPacket(i + 1, file.substr(i * 8, 8)));
  sent = h.Feed(kTid, AckPacket(2));  // 3 and 4 were lost
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(Num(sent[0].bytes), 3);
  EXPECT_EQ(Num(sent[3].bytes), 6);
  EXPECT_EQ(h.transfer.Outcome().retransmissions, 2u);
  sent = h.Expire();  // nothing came back: the window again from 3
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(Num(sent[0].bytes), 3);
  EXPECT_EQ(h.transfer.Outcome().retransmissions, 6u);
  sent = h.Feed(kTid, AckPacket(6));
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(Num(sent[3].bytes), 10);
  sent = h.Feed(kTid, AckPacket(10));
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].bytes, DataPacket(11, ""));
  EXPECT_TRUE(h.Feed(kTid, AckPacket(11)).empty());
  EXPECT_EQ(h.transfer.Outcome().state, TransferState::Succeeded);
  EXPECT_EQ(h.transfer.Outcome().bytes, file.size());
}

TEST(ClientTransferRules, LocalWriteAndReadFailuresTellTheServer) {
  MemorySink sink;
  sink.failAfter = 512;
  Harness h(Get(), &sink, nullptr);
  h.Start();
  h.Feed(kTid, DataPacket(1, Block(512)));
  auto sent = h.Feed(kTid, DataPacket(2, Block(512)));
  ExpectSent(sent, kTid, ErrorPacket(3, "Disk full or allocation exceeded"));
  EXPECT_EQ(h.transfer.Outcome().state, TransferState::Failed);
  EXPECT_EQ(h.transfer.Outcome().reason, "writing the local file failed at byte 512");
  EXPECT_TRUE(h.transfer.Outcome().localFileFailed);

  // Not a full disk: ERROR 0 with the file's own words (and its offset).
  MemorySink broken;
  broken.failAfter = 0, broken.diskFull = false, broken.failure = "Input/output error, at byte 0";
  Harness g(Get(), &broken, nullptr);
  g.Start();
  ExpectSent(g.Feed(kTid, DataPacket(1, "x")), kTid, ErrorPacket(0, broken.failure));
  EXPECT_EQ(g.transfer.Outcome().reason, broken.failure);

  // The disk fills as the last block is flushed: ERROR 3 in place of the final ACK.
  MemorySink unflushed;
  unflushed.flushFails = true;
  Harness f(Get(), &unflushed, nullptr);
  f.Start();
  ExpectSent(f.Feed(kTid, DataPacket(1, "end")), kTid, ErrorPacket(3, "Disk full or allocation exceeded"));
  EXPECT_TRUE(f.transfer.Outcome().localFileFailed);

  MemorySource source(Block(2000));
  source.failAt = 1024;
  Harness p(Put(), nullptr, &source);
  p.Start();
  p.Feed(kTid, AckPacket(0));
  p.Feed(kTid, AckPacket(1));
  sent = p.Feed(kTid, AckPacket(2));
  ExpectSent(sent, kTid, ErrorPacket(0, "reading the local file failed at byte 1024"));
  EXPECT_EQ(p.transfer.Outcome().state, TransferState::Failed);
  EXPECT_TRUE(p.transfer.Outcome().localFileFailed);
}

// A changed file never has its last block sent; a stream (no tsize) runs to
// its first short block holding no more than a window.
TEST(ClientTransferRules, ChangedSourcesStopAndStreamsRunToTheirEnd) {
  const std::string changed = "f changed while it was being sent";
  const struct {
    std::string changed;   // what Changed() says
    std::size_t shrinkTo;  // the file's size once the put runs (0: as it was)
    std::string reason;
  } rows[] = {
      {changed, 0, changed}, {changed, 700, changed}, {"", 700, "the local file ended early, at byte 700"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.reason);
    MemorySource source(Block(1100));
    Harness h(Put(), nullptr, &source);
    h.Start();
    source.changed = row.changed;
    if (row.shrinkTo) source.data.resize(row.shrinkTo);
    std::vector<Outbox::Datagram> sent;
    for (std::uint16_t n = 0; n <= 2 && !h.transfer.Finished(); ++n) sent = h.Feed(kTid, AckPacket(n));
    ExpectSent(sent, kTid, ErrorPacket(0, row.reason));
    EXPECT_EQ(h.transfer.Outcome().reason, row.reason);
    EXPECT_FALSE(h.transfer.Outcome().localFileFailed);
    EXPECT_EQ(source.changedCalls, 1);
  }
  // All in one window, then a loss (a short ACK, a time-out): a file changed
  // by then is not read again for the blocks that go again.
  for (bool timeOut : {false, true}) {
    MemorySource source(Block(1100));
    Harness h(Put(512, 4), nullptr, &source);
    h.Start();
    ASSERT_EQ(h.Feed(kTid, OackPacket({{"windowsize", "4"}})).size(), 3u);
    source.changed = changed;
    ExpectSent(timeOut ? h.Expire() : h.Feed(kTid, AckPacket(1)), kTid, ErrorPacket(0, changed));
  }
  // A window of 64 would hold 32 KiB: it is reduced to fit the 4 KiB allowed.
  for (std::uint32_t window : {1u, 4u, 64u}) {
    for (std::size_t size : {0u, 100u, 512u, 1024u, 5000u}) {
      SCOPED_TRACE(std::to_string(size) + " bytes, window " + std::to_string(window));
      MemorySource stream(Block(size, 's'));
      stream.stream = true;
      TransferRequest r = Put(512, window);
      r.transferSize = true;
      r.streamHold = 4096;
      Harness h(r, nullptr, &stream);
      ModelServer server;
      MemorySink received;
      server.received = &received;
      ASSERT_TRUE(Play(h, server));
      EXPECT_EQ(received.data, stream.data);
      EXPECT_EQ(server.expected - 1, size / 512 + 1);  // a short (maybe empty) last block
      EXPECT_EQ(stream.readsBelowRelease, 0);
      EXPECT_LE(stream.held, std::min(window * 512u, 4096u));
      EXPECT_EQ(server.tsizeAsked, false);
    }
  }
}

TEST(ClientTransferRules, AbandonSendsError0ToTheServerOnceKnown) {
  MemorySink sink;
  Harness before(Get(), &sink, nullptr);
  before.Start();
  before.transfer.Abandon("interrupted", before.out);
  EXPECT_TRUE(before.Take().empty());
  EXPECT_EQ(before.transfer.Outcome().reason, "interrupted");

  Harness during(Get(), &sink, nullptr);
  during.Start();
  during.Feed(kTid, DataPacket(1, Block(512)));
  during.transfer.Abandon("interrupted", during.out);
  ExpectSent(during.Take(), kTid, ErrorPacket(0, "interrupted"));
  EXPECT_EQ(during.transfer.Outcome().state, TransferState::Failed);
  EXPECT_EQ(during.transfer.Deadline(), TimePoint::max());
}

// An RFC 7440 sender (on ACK n the window from n+1, on its time-out from its
// base) loses one block: at most a window more DATA, whichever timer fires
// first; ours after the measured round trip, not the first wait.
TEST(ClientTransferRules, LostBlockCostsAtMostOneWindowAgainstAWindowedSender) {
  for (std::uint64_t lost : {8u, 6u}) {          // tail of a window, inside one
    for (long serverTimeoutMs : {3L, 10000L}) {  // the server's timer first, ours first
      SCOPED_TRACE(std::to_string(lost) + " lost, server time-out " + std::to_string(serverTimeoutMs));
      PatternSource file(40 * 8 + 3);
      PatternSink sink;
      Harness h(Get(8, 4), &sink, nullptr);
      ModelServer server;
      server.file = &file;
      server.loseFirstCopy = {lost};
      TimedLink link;
      link.serverTimeout = std::chrono::milliseconds(serverTimeoutMs);
      const TimePoint start = h.now;
      ASSERT_TRUE(PlayTimed(h, server, link));
      EXPECT_EQ(sink.size, file.Size());
      EXPECT_EQ(sink.mismatches, 0u);
      EXPECT_LE(server.dataSent, 41u + 4);
      EXPECT_LT(h.now - start, std::chrono::milliseconds(200));  // 12 round trips of 2 ms and a time-out
    }
  }
}

// A server that agrees windowsize 16 but sends 4 blocks a window: a short
// window is acknowledged after one estimated wait and its answer is
// progress, so the get takes at most twice the same get in lock step.
TEST(ClientTransferRules, ServerSendingShortWindowsIsNoSlowerThanLockStep) {
  PatternSource file(200 * 1024 + 3);
  Clock::duration took[2];
  for (int shortWindows : {0, 1}) {
    PatternSink sink;
    Harness h(shortWindows ? Get(512, 16) : Get(), &sink, nullptr);
    ModelServer server;
    server.file = &file;
    server.sendsPerWindow = 4;
    const TimePoint start = h.now;
    ASSERT_TRUE(PlayTimed(h, server, TimedLink()));
    EXPECT_EQ(sink.size, file.Size());
    EXPECT_EQ(h.transfer.Outcome().retransmissions, 0u);
    took[shortWindows] = h.now - start;
  }
  EXPECT_LE(took[1], 2 * took[0]);
}

// Answers slowing from 1 to 300 ms mid-put: the estimate follows, no storm.
TEST(ClientTransferRules, DeviceThatSlowsDownCausesNoRetransmissionStorm) {
  MemorySource source(Block(400 * 512 + 10));
  MemorySink received;
  Harness h(Put(), nullptr, &source);
  ModelServer server;
  server.received = &received;
  TimedLink link;
  link.think = [](std::uint64_t n) { return n < 200 ? Clock::duration() : std::chrono::milliseconds(300); };
  ASSERT_TRUE(PlayTimed(h, server, link));
  EXPECT_EQ(received.data, source.data);
  EXPECT_LE(h.transfer.Outcome().retransmissions, 8u);
  EXPECT_GE(h.transfer.Outcome().retransmissions, 1u);  // the first slow answer is a surprise
}

}  // namespace
}  // namespace tarnwick::testing_support
