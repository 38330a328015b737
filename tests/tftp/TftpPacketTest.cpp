// Packet building and reading, byte for byte, including every short and
// malformed datagram the readers must survive.
#include <gtest/gtest.h>

#include <string>

#include "tftp/TftpPacket.h"

namespace tarnwick::tftp {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

TEST(TftpPacket, RequestForConfigIsFifteenBytes) {
  std::string out = "leftover";
  BuildRequest(out, kRrq, "config");
  EXPECT_EQ(out, Bytes({0, 1, 'c', 'o', 'n', 'f', 'i', 'g', 0, 'o', 'c', 't', 'e', 't', 0}));
  EXPECT_EQ(out.size(), 15u);
  BuildRequest(out, kWrq, "");
  EXPECT_EQ(out, Bytes({0, 2, 0, 'o', 'c', 't', 'e', 't', 0}));
  // The name goes in untouched: blanks, delimiter, password, high bytes.
  BuildRequest(out, kRrq, std::string(" a/p\x93\xfa", 6));
  EXPECT_EQ(out, Bytes({0, 1, ' ', 'a', '/', 'p', 0x93, 0xfa, 0, 'o', 'c', 't', 'e', 't', 0}));
}

TEST(TftpPacket, WrqThroughBuildPacketLeavesOutTheBlockNumber) {
  std::string body, packet;
  BuildRequestBody(body, "fw.bin");
  BuildPacket(packet, kWrq, 0, body);
  std::string request;
  BuildRequest(request, kWrq, "fw.bin");
  EXPECT_EQ(packet, request);
  BuildPacket(packet, kData, 0x1234, "xy");
  EXPECT_EQ(packet, Bytes({0, 3, 0x12, 0x34, 'x', 'y'}));
  BuildPacket(packet, kData, 65535, "");
  EXPECT_EQ(packet, Bytes({0, 3, 0xff, 0xff}));
}

TEST(TftpPacket, AckAndSerialErrorBytes) {
  std::string out;
  BuildAck(out, 258);
  EXPECT_EQ(out, Bytes({0, 4, 1, 2}));
  BuildAck(out, 0);
  EXPECT_EQ(out, Bytes({0, 4, 0, 0}));
  BuildSerialError(out);
  EXPECT_EQ(out.size(), 23u);
  EXPECT_EQ(out, Bytes({0, 5, 0, 5}) + "Unexcepted serial#" + std::string(1, '\0'));
}

TEST(TftpPacket, ReadNumberNeedsBothBytes) {
  struct Row {
    std::string packet;
    std::size_t offset;
    std::uint16_t value;
  };
  const Row rows[] = {
      {"", 0, 0},
      {Bytes({0}), 0, 0},
      {Bytes({1, 2}), 0, 0x0102},
      {Bytes({1, 2, 3}), 2, 0},
      {Bytes({1, 2, 0xff, 0xfe}), 2, 0xfffe},
      {Bytes({1, 2}), 5, 0},
      {Bytes({1, 2}), static_cast<std::size_t>(-1), 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "size " << r.packet.size() << " offset " << r.offset);
    EXPECT_EQ(ReadNumber(r.packet, r.offset), r.value);
  }
}

TEST(TftpPacket, AckAndDataRecognition) {
  struct Row {
    std::string packet;
    bool ackOf7, data;
  };
  const Row rows[] = {
      {"", false, false},
      {Bytes({0, 4, 0}), false, false},  // three bytes are too short
      {Bytes({0, 4, 0, 7}), true, false},
      {Bytes({0, 4, 0, 7, 'x', 'y'}), true, false},  // trailing bytes ignored
      {Bytes({0, 4, 0, 6}), false, false},
      {Bytes({1, 4, 0, 7}), false, false},
      {Bytes({0, 3, 0, 7}), false, true},
      {Bytes({0, 3, 0}), false, false},
      {Bytes({0, 5, 0, 7}), false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.packet));
    EXPECT_EQ(IsAckOf(r.packet, 7), r.ackOf7);
    EXPECT_EQ(IsData(r.packet), r.data);
  }
  EXPECT_EQ(DataBytes(Bytes({0, 3, 0, 1, 'a', 0, 'b'})), std::string("a\0b", 3));
  EXPECT_EQ(DataBytes(Bytes({0, 3, 0, 1})), "");
  EXPECT_EQ(DataBytes(Bytes({0, 3})), "");
}

TEST(TftpPacket, ErrorTextIsCutAtZeroAndTrimmed) {
  struct Row {
    std::string packet;
    std::uint16_t code;
    std::string text;
  };
  const Row rows[] = {
      {Bytes({0, 5, 0, 1}) + "File not found" + Bytes({0}), 1, "File not found"},
      {Bytes({0, 5, 0, 2}) + "Access violation", 2, "Access violation"},  // no zero byte
      {Bytes({0, 5, 0, 0}) + " \r\n\tDisk full \r\n" + Bytes({0}), 0, "Disk full"},
      {Bytes({0, 5, 0, 3}) + "a\r\nb" + Bytes({0}) + "ignored", 3, "a\r\nb"},
      {Bytes({0, 5, 0x12, 0x34}), 0x1234, ""},  // exactly four bytes
      {Bytes({0, 5, 0, 1}) + Bytes({0}), 1, ""},
      {Bytes({0, 5, 0, 1}) + "   ", 1, ""},
      {Bytes({0, 5, 0xff}), 0, ""},  // code cut off
      {Bytes({0, 5}), 0, ""},
      {Bytes({0, 5, 0, 1}) + "\x93\xfa\x96\x7b", 1, "\x93\xfa\x96\x7b"},  // high bytes kept
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.packet));
    PeerError e = ReadError(r.packet);
    EXPECT_EQ(e.code, r.code);
    EXPECT_EQ(e.text, r.text);
  }
}

TEST(TftpPacket, TrimRemovesOnlyBytesUpTo32AtTheEnds) {
  EXPECT_EQ(TrimBlanksAndControls(std::string("\0\x01 a b\x20\x1f", 7)), "a b");
  EXPECT_EQ(TrimBlanksAndControls("\x21"), "\x21");
  EXPECT_EQ(TrimBlanksAndControls("\x7f x \x80"), "\x7f x \x80");
  EXPECT_EQ(TrimBlanksAndControls("    "), "");
  EXPECT_EQ(TrimBlanksAndControls(""), "");
}

TEST(TftpPacket, BlockCounterWraps) {
  EXPECT_EQ(NextBlock(0), 1);
  EXPECT_EQ(NextBlock(65534), 65535);
  EXPECT_EQ(NextBlock(65535), 0);
}

}  // namespace
}  // namespace tarnwick::tftp
