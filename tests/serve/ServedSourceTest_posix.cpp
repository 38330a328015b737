// The engine's view of served files and uploads: octet and netascii reads
// by data offset (a window read again, acknowledged blocks forgotten), a
// file written in place caught, netascii uploads stored as local lines.
#include <unistd.h>

#include "ServeTestTree.h"
#include "serve/ServedSource.h"
#include "serve/UploadSink.h"

namespace tarnwick::serve {
namespace {

std::string ReadAt(tftp::FileSource& source, std::uint64_t offset, std::size_t length) {
  std::string out(length, '?');
  const long long n = source.Read(offset, out.data(), length);
  return n < 0 ? "error" : out.substr(0, static_cast<std::size_t>(n));
}

TEST(ServedSource, OctetAndNetasciiByOffsetAndUploadsBack) {
  ScratchTree t;
  ScratchTree::Write(t.Root() + "/f.txt", "ab\ncd\r\n");
  std::string error;
  auto tree = RootTree::Open(t.Root(), error);
  ASSERT_TRUE(tree) << error;
  auto file = tree->OpenForReading("f.txt").file;
  ASSERT_TRUE(file);
  auto octet = MakeServedSource(file, TransferMode::Octet);
  EXPECT_EQ(ReadAt(*octet, 2, 4) + ReadAt(*octet, 7, 4), "\ncd\r");
  auto ascii = MakeServedSource(file, TransferMode::Netascii);
  EXPECT_FALSE(ascii->SizeKnown());
  // "ab\r\n" "cd\r\0" "\r\n": block 2 read before block 1 is sent again.
  EXPECT_EQ(ReadAt(*ascii, 0, 4) + ReadAt(*ascii, 4, 4) + ReadAt(*ascii, 0, 4) + ReadAt(*ascii, 4, 4),
            std::string("ab\r\ncd\r\0ab\r\ncd\r\0", 16));
  ascii->Release(4);
  EXPECT_EQ(ReadAt(*ascii, 8, 4) + ReadAt(*ascii, 4, 4) + ReadAt(*ascii, 12, 4),
            std::string("\r\ncd\r\0", 6));
  EXPECT_EQ(ReadAt(*ascii, 0, 4), "error");  // released

  EXPECT_EQ(octet->Changed(), "");
  ScratchTree::Write(t.Root() + "/f.txt", "ab\ncd\r\nmore");  // written in place, same file
  EXPECT_NE(octet->Changed(), "");
  EXPECT_NE(tree->OpenForReading("f.txt").file, file);  // a new request gets the new bytes

  Refusal refusal;
  UploadSink sink(UploadTarget::Begin(tree->Root(), "up.txt", {true, false, 7}, {}, refusal),
                  TransferMode::Netascii, "\n");
  // CR LF, a CR NUL cut by the block end, a lax sender's bare CRs kept.
  EXPECT_TRUE(sink.Write("a\r\nb\r") && sink.Write(std::string("\0\rc\r", 4)) && sink.Finish());
  EXPECT_EQ(ScratchTree::Read(t.Root() + "/up.txt"), "a\nb\r\rc\r");
  UploadSink full(UploadTarget::Begin(tree->Root(), "big.txt", {true, false, 6}, {}, refusal),
                  TransferMode::Octet, "\n");
  EXPECT_TRUE(!full.Write("1234567") && full.DiskFull());
}

std::string Lent(tftp::FileSource& source, std::uint64_t offset, std::size_t length,
                 std::shared_ptr<const void>& keep) {
  std::string_view bytes;
  const std::shared_ptr<const void>* owner = source.Lend(offset, length, bytes);
  if (!owner) return "not lent";
  keep = *owner;
  return std::string(bytes);
}

// Octet blocks lent from reads shared by every transfer of the file: blocks
// across the read buffers' edges and the short last one as in the file, a
// second transfer served from the same buffer, a file cut short under a
// transfer seen as a short block.
TEST(ServedSource, OctetBlocksLentFromSharedReads) {
  ScratchTree t;
  std::string image(400000, '\0');  // more than the reads kept for later transfers
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + i / 251);
  ScratchTree::Write(t.Root() + "/f.bin", image);
  std::string error;
  auto tree = RootTree::Open(t.Root(), error);
  ASSERT_TRUE(tree) << error;
  auto file = tree->OpenForReading("f.bin").file;
  ASSERT_TRUE(file);
  auto first = MakeServedSource(file, TransferMode::Octet);
  auto second = MakeServedSource(file, TransferMode::Octet);
  std::shared_ptr<const void> keep, other;
  std::size_t wrong = 0;
  for (std::uint64_t offset = 0; offset < image.size(); offset += 1428)
    wrong += Lent(*first, offset, 1428, keep) != image.substr(offset, 1428);
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(Lent(*first, 399840, 1428, keep), image.substr(399840));  // the short last block
  EXPECT_EQ(Lent(*second, 399840, 1428, other), image.substr(399840));
  EXPECT_EQ(keep, other);  // one read for both transfers
  EXPECT_EQ(Lent(*first, 400000, 1428, keep), "not lent");

  // Blocks read long ago are read again, and find the file shorter.
  ASSERT_EQ(::truncate((t.Root() + "/f.bin").c_str(), 20000), 0);
  EXPECT_EQ(Lent(*second, 19000, 1428, other), image.substr(19000, 1000));
  EXPECT_EQ(Lent(*second, 30000, 1428, other), "");
}

}  // namespace
}  // namespace tarnwick::serve
