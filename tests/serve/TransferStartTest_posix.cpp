// A request from datagram to its first packet on a real tree: the file or
// upload and the OACK, or the ERROR before any data moves (nothing written).
#include "ServeTestTree.h"
#include "serve/TransferStart.h"

namespace tarnwick::serve {
namespace {

std::string Request(char opcode, const std::string& name, const std::string& tsize = "") {
  return std::string{'\0', opcode} + name + '\0' + "octet" + '\0' +
         (tsize.empty() ? "" : std::string("tsize") + '\0' + tsize + '\0');
}

std::string Oack(const std::string& tsize) { return std::string("\0\6tsize\0", 8) + tsize + '\0'; }

TEST(TransferStart, RequestsToTheirFirstPacket) {
  ScratchTree t;
  ScratchTree::Write(t.Root() + "/fw.bin", std::string(3000, 'f'));
  std::filesystem::create_symlink(t.Outside() + "/x", t.Root() + "/link.cfg");
  std::string error;
  auto tree = RootTree::Open(t.Root(), error);
  ASSERT_TRUE(tree) << error;
  const UploadPolicy off, on{true, false, 8192}, overwrite{true, true, 8192};
  struct Row {
    std::string datagram;
    UploadPolicy policy;
    std::uint16_t code;  // 0: started
    std::string oack;
  } rows[] = {
      {Request(1, "fw.bin", "0"), off, 0, Oack("3000")},
      {Request(2, "cfg.txt"), off, kErrorAccess, ""},  // uploads are off by default
      {Request(2, "fw.bin"), on, kErrorExists, ""},
      {Request(2, "cfg.txt", "9000"), on, kErrorDiskFull, ""},
      {Request(2, "link.cfg"), overwrite, kErrorAccess, ""},
      {Request(2, "../outside/cfg.txt"), on, kErrorAccess, ""},
      {Request(2, "fw.bin", "12"), overwrite, 0, Oack("12")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.datagram));
    const TransferStart s =
        StartTransfer(ParseServerRequest(row.datagram), tree.get(), tree->Root(), row.policy, {});
    EXPECT_TRUE(s.refusal.code == row.code && s.refusal.Refused() == (row.code != 0)) << s.refusal.reason;
    EXPECT_EQ(s.answer.oack, row.oack);
    EXPECT_EQ(s.source != nullptr, row.code == 0 && row.datagram[1] == 1);
    EXPECT_EQ(s.upload != nullptr, row.code == 0 && row.datagram[1] == 2);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.Root()), {}), 2);
  EXPECT_TRUE(std::filesystem::is_empty(t.Outside()));
  EXPECT_EQ(ScratchTree::Read(t.Root() + "/fw.bin"), std::string(3000, 'f'));
}

}  // namespace
}  // namespace tarnwick::serve
