// Requests at the listening port: what is served, refused or dropped, and
// the OACK the server's caps make of the options, byte for byte.
#include <gtest/gtest.h>

#include "serve/ServerRequest.h"

namespace tarnwick::serve {
namespace {

// Opcode, then every string zero-terminated.
std::string Packet(char opcode, std::initializer_list<std::string> strings) {
  std::string out{'\0', opcode};
  for (const std::string& s : strings) out += s + '\0';
  return out;
}

TEST(ServerRequest, ParsesRefusesOrDropsAnyDatagram) {
  std::string flood = Packet(1, {"a", "octet"});
  for (int i = 0; i < 40; ++i) flood += "x" + std::to_string(i) + '\0' + "1" + '\0';
  const auto Serve = RequestVerdict::Serve, Refuse = RequestVerdict::Refuse, Drop = RequestVerdict::Drop;
  struct Row {
    std::string datagram;
    RequestVerdict verdict;
    std::uint16_t code;  // the ERROR sent (Refuse) or logged (Drop)
    std::string name;
    TransferMode mode;
    std::size_t ignored;
  } rows[] = {
      {Packet(1, {"a.bin", "octet"}), Serve, 0, "a.bin", TransferMode::Octet, 0},
      {Packet(2, {"cfg", "NetASCII"}), Serve, 0, "cfg", TransferMode::Netascii, 0},
      {Packet(1, {"a", "octet", "blksize"}), Serve, 0, "a", TransferMode::Octet, 1},
      {Packet(1, {"a", "octet", "color", "blue"}), Serve, 0, "a", TransferMode::Octet, 1},
      {flood, Serve, 0, "a", TransferMode::Octet, 33},
      {Packet(1, {"a", "binary"}), Refuse, kErrorIllegal, "a", TransferMode::Octet, 0},
      {Packet(1, {"a"}) + "octet", Refuse, kErrorIllegal, "", TransferMode::Octet, 0},
      {std::string("\0\1a", 3), Refuse, kErrorIllegal, "", TransferMode::Octet, 0},
      {std::string(1, '\1'), Drop, kErrorIllegal, "", TransferMode::Octet, 0},
      {Packet(5, {"\1oops"}), Drop, kErrorIllegal, "", TransferMode::Octet, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.datagram));
    ServerRequest r = ParseServerRequest(row.datagram);
    EXPECT_EQ(r.verdict, row.verdict) << r.refusal.reason;
    EXPECT_EQ(r.refusal.Refused(), row.verdict != Serve);
    EXPECT_EQ(r.refusal.code, row.code);
    EXPECT_EQ(r.name, row.name);
    EXPECT_EQ(r.mode, row.mode);
    EXPECT_EQ(r.ignoredOptions, row.ignored);
  }
}

TEST(ServerRequest, OptionsAnsweredWithinTheCaps) {
  const ServerCaps caps{1468, 16, 16 * 1024};
  const std::optional<std::uint64_t> none;
  struct Row {
    std::string datagram;
    std::optional<std::uint64_t> fileSize;
    std::string oack;
    std::uint32_t blockSize, windowSize;
  } rows[] = {
      {Packet(1, {"a", "octet"}), 5, "", 512, 1},
      {Packet(1, {"a", "octet", "BLKSIZE", "1024"}), {}, Packet(6, {"blksize", "1024"}), 1024, 1},
      {Packet(1, {"a", "octet", "blksize", "65535"}), {}, Packet(6, {"blksize", "1468"}), 1468, 1},
      {Packet(1, {"a", "octet", "blksize", "7"}), {}, "", 512, 1},
      {Packet(1, {"a", "octet", "blksize", "600", "blksize", "1000"}), none, Packet(6, {"blksize", "600"}),
       600, 1},
      {Packet(1, {"a", "octet", "windowsize", "64"}), {}, Packet(6, {"windowsize", "16"}), 512, 16},
      // 1468 x 16 is over 16 KiB in flight: the window shrinks to 11 blocks.
      {Packet(1, {"a", "octet", "windowsize", "65535", "blksize", "65464"}), none,
       Packet(6, {"blksize", "1468", "windowsize", "11"}), 1468, 11},
      {Packet(1, {"a", "octet", "tsize", "0", "timeout", "3"}), 1234567,
       Packet(6, {"tsize", "1234567", "timeout", "3"}), 512, 1},
      {Packet(1, {"a", "octet", "timeout", "0", "timeout", "300"}), {}, "", 512, 1},
      {Packet(1, {"a", "netascii", "tsize", "0"}), 99, "", 512, 1},
      {Packet(2, {"a", "octet", "tsize", "4096"}), {}, Packet(6, {"tsize", "4096"}), 512, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.datagram));
    const ServerRequest r = ParseServerRequest(row.datagram);
    ASSERT_EQ(r.verdict, RequestVerdict::Serve) << r.refusal.reason;
    const OptionAnswer a = AnswerOptions(r, caps, row.fileSize);
    EXPECT_EQ(a.oack, row.oack);
    EXPECT_EQ(a.agreed.negotiated, !row.oack.empty());
    EXPECT_EQ(a.agreed.blockSize, row.blockSize);
    EXPECT_EQ(a.agreed.windowSize, row.windowSize);
  }
}

}  // namespace
}  // namespace tarnwick::serve
