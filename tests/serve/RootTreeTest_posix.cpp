// Confinement beneath ROOT on a real tree (hostile names, planted links, FIFOs,
// devices; openat2 and the walk); one descriptor shared by a file's readers.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "ServeTestTree.h"
#include "serve/RootFolderDetail.h"
#include "serve/RootTree.h"

namespace tarnwick::serve {
namespace {

std::string Content(const ServedFile& file) {
  std::string bytes(file.Size(), '\0');
  EXPECT_EQ(file.ReadAt(0, bytes.data(), bytes.size()), static_cast<long long>(bytes.size()));
  return bytes;
}

TEST(RootTree, HostileNamesOpenNothingOutsideRootAndReadersShare) {
  ScratchTree t;
  const std::string r = t.Root();
  t.Write(t.Outside() + "/secret.txt", "SECRET");
  t.Write(r + "/ok.txt", "OK");
  std::filesystem::create_directories(r + "/sub");
  t.Write(r + "/sub/inner.txt", "INNER");
  std::filesystem::create_symlink(t.Outside() + "/secret.txt", r + "/link-out");
  std::filesystem::create_symlink("ok.txt", r + "/link-in");
  std::filesystem::create_directory_symlink(t.Outside(), r + "/dirlink");
  std::filesystem::create_directory_symlink("..", r + "/sub/up");
  ASSERT_EQ(::mkfifo((r + "/fifo").c_str(), 0644), 0);
  const bool device = ::mknod((r + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;

  struct Row {
    std::string wire;
    std::uint16_t code;   // 0: served
    std::string content;  // what is served
  } rows[] = {
      {"ok.txt", 0, "OK"},
      {"\\sub\\inner.txt", 0, "INNER"},
      {"../outside/secret.txt", kErrorAccess, ""},
      {"..\\outside\\secret.txt", kErrorAccess, ""},
      {"/../outside/secret.txt", kErrorAccess, ""},
      {"sub/../../outside/secret.txt", kErrorAccess, ""},
      {t.Outside() + "/secret.txt", kErrorNotFound, ""},  // absolute means beneath ROOT
      {"link-out", kErrorAccess, ""},
      {"link-in", kErrorAccess, ""},
      {"dirlink/secret.txt", kErrorAccess, ""},
      {"sub/up/ok.txt", kErrorAccess, ""},
      {"fifo", kErrorAccess, ""},
      {"sub", kErrorAccess, ""},
      {std::string("ok.txt\0", 7) + "x", kErrorAccess, ""},
      {device ? "null" : "fifo", kErrorAccess, ""},
  };
  for (bool openat2 : {true, false}) {
    root_folder_detail::UseOpenat2(openat2);
    std::string error;
    auto hostile = RootTree::Open(r, error);
    ASSERT_TRUE(hostile) << error;
    for (const Row& row : rows) {
      SCOPED_TRACE(row.wire + (openat2 ? " (openat2)" : " (walk)"));
      ReadOpening opening = hostile->OpenForReading(row.wire);
      EXPECT_EQ(opening.refusal.code, row.code) << opening.refusal.reason;
      ASSERT_EQ(opening.file != nullptr, row.code == 0) << opening.refusal.reason;
      EXPECT_EQ(opening.file ? Content(*opening.file) : "", row.content);
    }
  }
  root_folder_detail::UseOpenat2(true);

  // Every reader of one file shares its descriptor; a file replaced while
  // served keeps serving its old bytes to the readers already running.
  ScratchTree::Write(r + "/image.bin", "old image");
  std::string error;
  auto tree = RootTree::Open(r, error);
  ASSERT_TRUE(tree) << error;
  ReadOpening first = tree->OpenForReading("image.bin");
  ReadOpening second = tree->OpenForReading("/image.bin");
  ASSERT_TRUE(first.file && second.file);
  EXPECT_EQ(first.file.get(), second.file.get());
  EXPECT_EQ(tree->OpenFiles(), 1u);

  ScratchTree::Write(r + "/new.bin", "new image!");
  std::filesystem::rename(r + "/new.bin", r + "/image.bin");
  ReadOpening third = tree->OpenForReading("image.bin");
  ASSERT_TRUE(third.file);
  EXPECT_NE(third.file.get(), first.file.get());
  EXPECT_EQ(Content(*first.file), "old image");
  EXPECT_EQ(Content(*third.file), "new image!");
  EXPECT_EQ(tree->OpenFiles(), 2u);
  first = second = third = ReadOpening();
  EXPECT_EQ(tree->OpenFiles(), 0u);
}

}  // namespace
}  // namespace tarnwick::serve
