// Requests at the listening port: what is served, refused or dropped, and
// the OACK the server's caps make of the options, byte for byte.
#include <gtest/gtest.h>

#include "serve/ServerRequest.h"

namespace tarnwick::serve {
namespace {

std::string Z(std::string text) { return std::string(text.c_str(), text.size()) + '\0'; }
std::string Rrq(const std::string& rest) { return std::string("\0\1", 2) + rest; }
std::string Wrq(const std::string& rest) { return std::string("\0\2", 2) + rest; }
std::string Oack(const std::string& pairs) { return std::string("\0\6", 2) + pairs; }

TEST(ServerRequest, ParsesRefusesOrDropsAnyDatagram) {
  std::string flood;
  for (int i = 0; i < 40; ++i) flood += Z("x" + std::to_string(i)) + Z("1");
  struct Row {
    std::string datagram;
    RequestVerdict verdict;
    std::uint16_t code;  // Refuse
    std::string name;
    TransferMode mode;
    std::size_t ignored;
  } rows[] = {
      {Rrq(Z("a.bin") + Z("octet")), RequestVerdict::Serve, 0, "a.bin", TransferMode::Octet, 0},
      {Wrq(Z("cfg") + Z("NetASCII")), RequestVerdict::Serve, 0, "cfg", TransferMode::Netascii, 0},
      {Rrq(Z("a") + Z("octet") + Z("blksize")), RequestVerdict::Serve, 0, "a", TransferMode::Octet, 1},
      {Rrq(Z("a") + Z("octet") + Z("color") + Z("blue")), RequestVerdict::Serve, 0, "a", TransferMode::Octet, 1},
      {Rrq(Z("a") + Z("octet") + flood), RequestVerdict::Serve, 0, "a", TransferMode::Octet, 33},
      {Rrq(Z("a") + Z("mail")), RequestVerdict::Refuse, kErrorIllegal, "a", TransferMode::Octet, 0},
      {Rrq(Z("a") + Z("binary")), RequestVerdict::Refuse, kErrorIllegal, "a", TransferMode::Octet, 0},
      {Rrq(Z("a") + "octet"), RequestVerdict::Refuse, kErrorIllegal, "", TransferMode::Octet, 0},
      {Rrq("a"), RequestVerdict::Refuse, kErrorIllegal, "", TransferMode::Octet, 0},
      {std::string(1, '\1'), RequestVerdict::Drop, 0, "", TransferMode::Octet, 0},
      {std::string("\0\5\0\1oops\0", 9), RequestVerdict::Drop, 0, "", TransferMode::Octet, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.datagram));
    ServerRequest r = ParseServerRequest(row.datagram);
    EXPECT_EQ(r.verdict, row.verdict) << r.refusal.reason;
    EXPECT_EQ(r.refusal.Refused(), row.verdict != RequestVerdict::Serve);
    if (row.verdict == RequestVerdict::Refuse) {
      EXPECT_EQ(r.refusal.code, row.code);
    }
    EXPECT_EQ(r.name, row.name);
    EXPECT_EQ(r.mode, row.mode);
    EXPECT_EQ(r.ignoredOptions, row.ignored);
  }
}

TEST(ServerRequest, OptionsAnsweredWithinTheCaps) {
  const ServerCaps caps{1468, 16, 16 * 1024};
  struct Row {
    std::string datagram;
    std::optional<std::uint64_t> fileSize;
    std::string oack;
    std::uint32_t blockSize, windowSize;
  } rows[] = {
      {Rrq(Z("a") + Z("octet")), 5, "", 512, 1},
      {Rrq(Z("a") + Z("octet") + Z("BLKSIZE") + Z("1024")), {}, Oack(Z("blksize") + Z("1024")), 1024, 1},
      {Rrq(Z("a") + Z("octet") + Z("blksize") + Z("65535")), {}, Oack(Z("blksize") + Z("1468")), 1468, 1},
      {Rrq(Z("a") + Z("octet") + Z("blksize") + Z("7")), {}, "", 512, 1},
      {Rrq(Z("a") + Z("octet") + Z("blksize") + Z("x1")), {}, "", 512, 1},
      {Rrq(Z("a") + Z("octet") + Z("blksize") + Z("600") + Z("blksize") + Z("1000")), {},
       Oack(Z("blksize") + Z("600")), 600, 1},
      {Rrq(Z("a") + Z("octet") + Z("windowsize") + Z("64")), {}, Oack(Z("windowsize") + Z("16")), 512, 16},
      // 1468 x 16 is over 16 KiB in flight: the window shrinks to 11 blocks.
      {Rrq(Z("a") + Z("octet") + Z("windowsize") + Z("65535") + Z("blksize") + Z("65464")), {},
       Oack(Z("blksize") + Z("1468") + Z("windowsize") + Z("11")), 1468, 11},
      {Rrq(Z("a") + Z("octet") + Z("tsize") + Z("0") + Z("timeout") + Z("3")), 1234567,
       Oack(Z("tsize") + Z("1234567") + Z("timeout") + Z("3")), 512, 1},
      {Rrq(Z("a") + Z("octet") + Z("timeout") + Z("0") + Z("timeout") + Z("300")), {}, "", 512, 1},
      {Rrq(Z("a") + Z("netascii") + Z("tsize") + Z("0")), 99, "", 512, 1},
      {Rrq(Z("a") + Z("octet") + Z("tsize") + Z("0")), {}, "", 512, 1},
      {Wrq(Z("a") + Z("octet") + Z("tsize") + Z("4096")), {}, Oack(Z("tsize") + Z("4096")), 512, 1},
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
