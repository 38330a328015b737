// Write transfers against a scripted server.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"

namespace tarnwick::testing_support {
namespace {

using PutFileTest = EngineTest;

// Plays a well-behaved server; returns the data blocks as received.
std::vector<std::string> AcceptAll(ScriptedPeer& p, std::string* request = nullptr) {
  std::vector<std::string> blocks;
  std::string wrq = Expect(p);
  if (request) *request = wrq;
  p.Reply(Ack(0));
  for (std::uint16_t block = 1;; ++block) {
    std::string packet = Expect(p);
    if (packet.size() < 4) break;
    EXPECT_EQ(packet.substr(0, 4), Data(block, "")) << "block " << block;
    blocks.push_back(packet.substr(4));
    p.Reply(Ack(block));
    if (packet.size() - 4 < 512) break;
  }
  return blocks;
}

TEST_F(PutFileTest, BlockLayoutForSizesAroundTheBoundary) {
  struct Row {
    std::size_t size;
    std::vector<std::size_t> blocks;
  };
  const Row rows[] = {
      {0, {0}}, {1, {1}}, {511, {511}}, {512, {512, 0}}, {513, {512, 1}}, {1025, {512, 512, 1}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.size);
    const std::string file = Pattern(r.size, 7);
    SetContent(file);
    std::vector<std::string> blocks;
    std::string request;
    bool ok = Put([&](ScriptedPeer& p) { blocks = AcceptAll(p, &request); }, "fw.bin");
    EXPECT_TRUE(ok);
    EXPECT_EQ(request, std::string("\0\2fw.bin\0octet\0", 15));
    std::vector<std::size_t> sizes;
    std::string joined;
    for (const auto& b : blocks) {
      sizes.push_back(b.size());
      joined += b;
    }
    EXPECT_EQ(sizes, r.blocks);
    EXPECT_EQ(joined, file);
    EXPECT_EQ(ContentBytes(), file);  // Content is left as it was
    EXPECT_EQ(engine.UdpSocket.Handle, kNoSocket);
  }
}

TEST_F(PutFileTest, AckWithTrailingBytesCounts) {
  SetContent("abc");
  bool ok = Put([&](ScriptedPeer& p) {
    Expect(p);
    p.Reply(Ack(0) + "junk");
    Expect(p);
    p.Reply(Ack(1) + std::string("\0\0", 2));
  });
  EXPECT_TRUE(ok);
}

TEST_F(PutFileTest, ErrorToTheRequest) {
  SetContent("abc");
  bool ok = Put([&](ScriptedPeer& p) {
    Expect(p);
    p.Reply(Error(2, std::string("Access violation\r\n\0", 19)));
    ExpectSilence(p);
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(engine.PeerErrorCode, 2);
  EXPECT_EQ(engine.PeerErrorText, "Access violation");
}

TEST_F(PutFileTest, WrongAnswersEndTheTransferWithoutAnError) {
  const std::string rows[] = {
      Ack(0),                    // the previous ACK repeated
      Ack(2),                    // a later block
      Data(1, "x"),              // a DATA packet
      std::string("\0\4\0", 3),  // too short
      "",                        // empty datagram
  };
  for (const std::string& answer : rows) {
    SCOPED_TRACE(::testing::PrintToString(answer));
    SetContent(Pattern(600));
    bool ok = Put([&](ScriptedPeer& p) {
      Expect(p);
      p.Reply(Ack(0));
      Expect(p);  // DATA 1
      p.Reply(answer);
      ExpectSilence(p);
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(engine.PeerErrorCode, 0);
    EXPECT_EQ(engine.PeerErrorText, "");
    EXPECT_EQ(ContentBytes(), Pattern(600));
  }
}

TEST_F(PutFileTest, SilentServerAfterTheFirstBlock) {
  engine.ReplyTimeout = 200;
  SetContent(Pattern(1000));
  int dataBlocks = 0;
  bool ok = Put([&](ScriptedPeer& p) {
    Expect(p);
    p.Reply(Ack(0));
    while (p.Receive(600)) ++dataBlocks;
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(dataBlocks, 1);  // sent once, never repeated
  EXPECT_EQ(engine.PeerErrorCode, 0);
  EXPECT_EQ(engine.Content.Position(), 512);  // where reading stopped
}

TEST_F(PutFileTest, PasswordNameGoesOutByteForByte) {
  std::string request;
  bool ok = Put([&](ScriptedPeer& p) { AcceptAll(p, &request); }, std::string("\x93\xfa/ pw ", 7));
  EXPECT_TRUE(ok);
  EXPECT_EQ(request, std::string("\0\2\x93\xfa/ pw \0octet\0", 16));
}

}  // namespace
}  // namespace tarnwick::testing_support

namespace tarnwick::testing_support {
namespace {

using SingleExchangeTest = EngineTest;

TEST_F(SingleExchangeTest, PutPacketAndGetPacketClearTheErrorAndMatchTheBlock) {
  engine.UdpSocket.ConnectTo("127.0.0.1", std::to_string(peer.Port()));
  engine.PeerErrorCode = 7;
  engine.PeerErrorText = "stale";
  bool ok = Run([&] { return engine.PutPacket(3, 258, "x"); },
                [&](ScriptedPeer& p) {
                  EXPECT_EQ(Expect(p), Data(258, "x"));
                  p.Reply(Ack(258));
                });
  EXPECT_TRUE(ok);
  EXPECT_EQ(engine.PeerErrorCode, 0);
  EXPECT_EQ(engine.PeerErrorText, "");

  std::string data = "previous";
  engine.PeerErrorCode = 7;
  ok = Run([&] { return engine.GetPacket(65535, data); },
           [&](ScriptedPeer& p) {
             p.Reply(Data(65535, "abc"));
             EXPECT_EQ(Expect(p), Ack(65535));
           });
  EXPECT_TRUE(ok);
  EXPECT_EQ(data, "abc");
  EXPECT_EQ(engine.PeerErrorCode, 0);

  // Wrong block: the data stays empty and the serial error goes back.
  ok = Run([&] { return engine.GetPacket(0, data); },
           [&](ScriptedPeer& p) {
             p.Reply(Data(1, "abc"));
             EXPECT_EQ(Expect(p).size(), 23u);
           });
  EXPECT_FALSE(ok);
  EXPECT_EQ(data, "");
  EXPECT_EQ(engine.PeerErrorCode, 5);
  engine.UdpSocket.CloseEndpoint();
}

}  // namespace
}  // namespace tarnwick::testing_support
