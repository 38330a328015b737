// netascii both ways, with pairs cut by a block's end, and a block built
// again from its saved start the same as the first time.
#include <gtest/gtest.h>

#include "serve/Netascii.h"

namespace tarnwick::serve {
namespace {

TEST(Netascii, BlocksAcrossPairsAndBackAgain) {
  struct Row {
    std::string file;
    std::vector<std::string> blocks;  // of 4 bytes
  } rows[] = {
      {"ab\ncd", {std::string("ab\r\n"), "cd"}},
      {"abc\ndef", {"abc\r", "\ndef", ""}},
      {"abc\r", {"abc\r", std::string(1, '\0')}},
      {"", {""}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.file));
    const ReadAtFunction read = [&](std::uint64_t offset, char* out, std::size_t length) {
      return static_cast<long long>(
          row.file.copy(out, length, std::min<std::size_t>(offset, row.file.size())));
    };
    NetasciiPosition at;
    std::string block, wire;
    for (const std::string& expected : row.blocks) {
      const NetasciiPosition start = at;
      ASSERT_TRUE(EncodeNetasciiBlock(read, at, 4, block));
      EXPECT_EQ(block, expected);
      NetasciiPosition again = start;  // the window sent a second time
      ASSERT_TRUE(EncodeNetasciiBlock(read, again, 4, block));
      EXPECT_EQ(block, expected);
      EXPECT_EQ(again, at);
      wire += block;
    }
    for (std::size_t cut = 0; cut <= wire.size(); ++cut) {  // stored back, fed in two pieces
      NetasciiDecoder decoder("\n");
      std::string file;
      decoder.Decode(std::string_view(wire).substr(0, cut), file);
      decoder.Decode(std::string_view(wire).substr(cut), file);
      decoder.Finish(file);
      EXPECT_EQ(file, row.file) << cut;
    }
  }
}

}  // namespace
}  // namespace tarnwick::serve
