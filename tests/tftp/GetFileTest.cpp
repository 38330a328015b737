// Read transfers against a scripted server: request bytes, block boundaries,
// and every way a download ends in failure.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"

namespace tarnwick::testing_support {
namespace {

using GetFileTest = EngineTest;

TEST_F(GetFileTest, ConfigRequestIsFifteenBytesAndAnEmptyFileSucceeds) {
  std::string request;
  bool ok = Get([&](ScriptedPeer& p) {
    request = Expect(p);
    p.Reply(Data(1, ""));
    EXPECT_EQ(Expect(p), Ack(1));
    ExpectSilence(p);  // no wait for a repeated last block, nothing more sent
  });
  EXPECT_TRUE(ok);
  EXPECT_EQ(request, std::string("\0\1config\0octet\0", 15));
  EXPECT_EQ(engine.Content.Size(), 0);
  EXPECT_EQ(engine.PeerErrorCode, 0);
  EXPECT_EQ(engine.UdpSocket.Handle, kNoSocket);  // closed after the transfer
}

TEST_F(GetFileTest, SizesAroundTheBlockBoundary) {
  for (std::size_t size : {1u, 511u, 512u, 513u, 1024u, 1025u, 5000u}) {
    SCOPED_TRACE(size);
    const std::string file = Pattern(size, static_cast<unsigned>(size));
    bool ok = Get([&](ScriptedPeer& p) {
      Expect(p);
      std::uint16_t block = 1;
      std::size_t at = 0;
      for (;;) {
        std::string chunk = file.substr(at, 512);
        p.Reply(Data(block, chunk));
        EXPECT_EQ(Expect(p), Ack(block));
        at += chunk.size();
        ++block;
        if (chunk.size() < 512) break;
      }
    });
    EXPECT_TRUE(ok);
    EXPECT_EQ(ContentBytes(), file);
    EXPECT_EQ(engine.Content.Position(), 0);
  }
}

TEST_F(GetFileTest, BlockLongerThan512IsStoredWholeAndEndsTheTransfer) {
  const std::string big = Pattern(700);
  bool ok = Get([&](ScriptedPeer& p) {
    Expect(p);
    p.Reply(Data(1, big));
    EXPECT_EQ(Expect(p), Ack(1));
    ExpectSilence(p);
  });
  EXPECT_TRUE(ok);
  EXPECT_EQ(ContentBytes(), big);
}

TEST_F(GetFileTest, AnswersFromAnotherPortAreFollowed) {
  ScriptedPeer transferPort;
  const std::string file = Pattern(600);
  bool ok = Get([&](ScriptedPeer& p) {
    Expect(p);
    transferPort.SendTo(p.LastSenderPort(), Data(1, file.substr(0, 512)));
    EXPECT_EQ(Expect(transferPort), Ack(1));
    transferPort.Reply(Data(2, file.substr(512)));
    EXPECT_EQ(Expect(transferPort), Ack(2));
    ExpectSilence(p, 100);  // the request port hears nothing more
  });
  EXPECT_TRUE(ok);
  EXPECT_EQ(ContentBytes(), file);
  EXPECT_EQ(engine.ServerPort, std::to_string(peer.Port()));
}

TEST_F(GetFileTest, ErrorPacketsGiveCodeAndTrimmedText) {
  struct Row {
    std::string packet;
    std::int32_t code;
    std::string text;
  };
  const Row rows[] = {
      {Error(1, std::string("File not found\0", 15)), 1, "File not found"},
      {Error(2, "Access violation"), 2, "Access violation"},  // no terminating zero
      {Error(0, std::string(" \r\n  busy, try later\r\n \0", 24)), 0, "busy, try later"},
      {Error(4, ""), 4, ""},  // exactly four bytes
      {Error(0xffff, std::string("x\0", 2)), 65535, "x"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    bool ok = Get([&](ScriptedPeer& p) {
      Expect(p);
      p.Reply(r.packet);
      ExpectSilence(p);  // nothing is sent in answer to an ERROR
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(engine.PeerErrorCode, r.code);
    EXPECT_EQ(engine.PeerErrorText, r.text);
  }
}

TEST_F(GetFileTest, ErrorAfterSomeBlocksKeepsWhatArrived) {
  bool ok = Get([&](ScriptedPeer& p) {
    Expect(p);
    p.Reply(Data(1, Pattern(512)));
    Expect(p);
    p.Reply(Error(3, std::string("Disk full\0", 10)));
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(engine.PeerErrorCode, 3);
  EXPECT_EQ(ContentBytes(), Pattern(512));
  EXPECT_EQ(engine.Content.Position(), 512);
}

TEST_F(GetFileTest, DuplicateFullBlockOneIsAnsweredWithTheSerialError) {
  std::string answer;
  bool ok = Get([&](ScriptedPeer& p) {
    Expect(p);
    p.Reply(Data(1, Pattern(512)));
    EXPECT_EQ(Expect(p), Ack(1));
    p.Reply(Data(1, Pattern(512)));  // as if our ACK had been lost
    answer = Expect(p);
    ExpectSilence(p);
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(answer, std::string("\0\5\0\5Unexcepted serial#\0", 23));
  EXPECT_EQ(engine.PeerErrorCode, 5);
  EXPECT_EQ(engine.PeerErrorText, "Unexcepted serial#");
  EXPECT_EQ(ContentBytes(), Pattern(512));
}

TEST_F(GetFileTest, UnexpectedOrShortDatagramsFailWithoutAnswer) {
  const std::string rows[] = {Ack(1), std::string("\0\3\0", 3), std::string("\0\5", 2), "", Data(0, "x")};
  for (const std::string& packet : rows) {
    SCOPED_TRACE(::testing::PrintToString(packet));
    bool isOtherBlock = packet == Data(0, "x");
    bool ok = Get([&](ScriptedPeer& p) {
      Expect(p);
      p.Reply(packet);
      if (isOtherBlock)
        EXPECT_EQ(Expect(p).size(), 23u);  // DATA of the wrong block: serial error
      else
        ExpectSilence(p);
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(engine.PeerErrorCode, isOtherBlock ? 5 : 0);
  }
}

TEST_F(GetFileTest, SilentServerMeansOneWaitThenFalse) {
  engine.ReplyTimeout = 200;
  int requests = 0;
  bool ok = Get([&](ScriptedPeer& p) {
    if (p.Receive(3000)) ++requests;
    while (p.Receive(600)) ++requests;  // a retransmission would show here
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(requests, 1);
  EXPECT_EQ(engine.PeerErrorCode, 0);
  EXPECT_EQ(engine.PeerErrorText, "");
  EXPECT_EQ(engine.UdpSocket.Handle, kNoSocket);
}

TEST_F(GetFileTest, TwoTransfersUseFreshSocketsAndClearTheError) {
  std::uint16_t firstPort = 0, secondPort = 0;
  EXPECT_FALSE(Get([&](ScriptedPeer& p) {
    Expect(p);
    firstPort = p.LastSenderPort();
    p.Reply(Error(1, std::string("nope\0", 5)));
  }));
  EXPECT_EQ(engine.PeerErrorCode, 1);
  EXPECT_TRUE(Get([&](ScriptedPeer& p) {
    Expect(p);
    secondPort = p.LastSenderPort();
    p.Reply(Data(1, "abc"));
    Expect(p);
  }));
  EXPECT_EQ(engine.PeerErrorCode, 0);
  EXPECT_EQ(engine.PeerErrorText, "");
  EXPECT_NE(firstPort, 0);
  EXPECT_NE(firstPort, secondPort);
  EXPECT_EQ(ContentBytes(), "abc");
}

TEST_F(GetFileTest, DownloadBeyondTheStreamLimitFailsCleanly) {
  // The limit is lowered so that the check is exercised without gigabytes;
  // the engine only relies on the stream's limit.
  engine.Content.SetSizeLimit(1000);
  bool ok = Get([&](ScriptedPeer& p) {
    Expect(p);
    p.Reply(Data(1, Pattern(512)));
    Expect(p);
    p.Reply(Data(2, Pattern(512, 2)));
    Expect(p);
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(engine.PeerErrorCode, 0);
  EXPECT_EQ(engine.PeerErrorText, "");
  EXPECT_EQ(ContentBytes(), Pattern(512));
  EXPECT_EQ(engine.UdpSocket.Handle, kNoSocket);
}

TEST_F(GetFileTest, UnresolvablePortSendsNothing) {
  engine.ServerPort = "no-such-service-name";
  bool ok = Get([&](ScriptedPeer& p) { ExpectSilence(p); });
  EXPECT_FALSE(ok);
  EXPECT_EQ(engine.PeerErrorCode, 0);
  EXPECT_EQ(engine.PeerErrorText, "");
}

}  // namespace
}  // namespace tarnwick::testing_support
