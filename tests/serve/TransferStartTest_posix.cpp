// A request from datagram to its first packet: the file or upload it gets,
// the OACK, or the ERROR code, on a real tree.
#include "ServeTestTree.h"
#include "serve/TransferStart.h"

namespace tarnwick::serve {
namespace {

std::string Request(char opcode, const std::string& name, const std::string& options) {
  return std::string{'\0', opcode} + name + '\0' + "octet" + '\0' + options;
}

TEST(TransferStart, RequestsToTheirFirstPacket) {
  ScratchTree t;
  ScratchTree::Write(t.Root() + "/fw.bin", std::string(3000, 'f'));
  std::string error;
  auto tree = RootTree::Open(t.Root(), error);
  ASSERT_TRUE(tree) << error;
  const std::string tsize0 = std::string("tsize\0" "0\0", 8), tsize9k = std::string("tsize\0" "9000\0", 11);
  struct Row {
    std::string datagram;
    bool uploads;
    std::uint16_t code;  // 0: started
    std::string oack;
  } rows[] = {
      {Request(1, "fw.bin", tsize0), false, 0, std::string("\0\6tsize\0" "3000\0", 13)},
      {Request(1, "/fw.bin", ""), false, 0, ""},
      {Request(1, "gone.bin", tsize0), false, kErrorNotFound, ""},
      {Request(1, "fw.bin", "").substr(0, 8), false, kErrorIllegal, ""},
      {Request(2, "cfg.txt", ""), false, kErrorAccess, ""},
      {Request(2, "fw.bin", ""), true, kErrorExists, ""},
      {Request(2, "cfg.txt", tsize9k), true, kErrorDiskFull, ""},
      {Request(2, "cfg.txt", std::string("tsize\0" "12\0", 9)), true, 0, std::string("\0\6tsize\0" "12\0", 11)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.datagram));
    const TransferStart s = StartTransfer(ParseServerRequest(row.datagram), *tree, tree->Root(),
                                          UploadPolicy{row.uploads, false, 8192}, ServerCaps{});
    EXPECT_EQ(s.refusal.code, row.code) << s.refusal.reason;
    EXPECT_EQ(s.refusal.Refused(), row.code != 0);
    EXPECT_EQ(s.answer.oack, row.oack);
    EXPECT_EQ(s.source != nullptr, row.code == 0 && row.datagram[1] == 1);
    EXPECT_EQ(s.upload != nullptr, row.code == 0 && row.datagram[1] == 2);
  }
}

}  // namespace
}  // namespace tarnwick::serve
