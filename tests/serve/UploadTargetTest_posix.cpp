// Uploads on a real tree: published whole or not at all, an existing file
// replaced only when asked, in one rename (refusals: TransferStartTest).
#include <sys/stat.h>

#include "ServeTestTree.h"
#include "serve/RootFolder.h"
#include "serve/UploadTarget.h"

namespace tarnwick::serve {
namespace {

std::ptrdiff_t Entries(const std::string& dir) {
  return std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator());
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(UploadTarget, PublishedWholeOrNotAtAll) {
  ScratchTree t;
  ScratchTree::Write(t.Root() + "/have.cfg", "old");
  ::chmod((t.Root() + "/have.cfg").c_str(), 0640);
  std::string error;
  auto root = RootFolder::OpenRoot(t.Root(), error);
  ASSERT_TRUE(root) << error;
  const UploadPolicy policy{true, false, 11};
  Refusal refusal;
  for (int i = 0; i < 20; ++i)
    ScratchTree::Write(t.Root() + "/.tarnwick-up-" + std::to_string(i), "");  // a crash's

  auto fresh = UploadTarget::Begin(*root, "/new.cfg", policy, 8, refusal);
  ASSERT_TRUE(fresh) << refusal.reason;
  ASSERT_EQ(Entries(t.Root()), 22);  // the temporary file
  EXPECT_TRUE(fresh->Write("hello ", refusal) && fresh->Write("world", refusal)) << refusal.reason;
  EXPECT_FALSE(fresh->Write("!", refusal));  // 12 bytes: over the limit of 11
  EXPECT_EQ(refusal.code, kErrorDiskFull);
  EXPECT_EQ(Entries(t.Root()), 21);

  auto done = UploadTarget::Begin(*root, "new.cfg", policy, {}, refusal);
  ASSERT_TRUE(done && done->Write("complete", refusal));
  EXPECT_FALSE(std::filesystem::exists(t.Root() + "/new.cfg"));
  ASSERT_TRUE(done->Finish(refusal)) << refusal.reason;
  EXPECT_EQ(ScratchTree::Read(t.Root() + "/new.cfg"), "complete");
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(ModeOf(t.Root() + "/new.cfg"), 0666 & ~mask);

  // A file that appears at the name while the upload runs is not replaced.
  auto raced = UploadTarget::Begin(*root, "late.cfg", policy, {}, refusal);
  ASSERT_TRUE(raced && raced->Write("mine", refusal));
  ScratchTree::Write(t.Root() + "/late.cfg", "theirs");
  EXPECT_FALSE(raced->Finish(refusal));
  EXPECT_EQ(refusal.code, kErrorExists);
  EXPECT_EQ(ScratchTree::Read(t.Root() + "/late.cfg"), "theirs");

  // Overwriting: one rename, the old file's mode kept, a reader of it undisturbed.
  std::ifstream reader(t.Root() + "/have.cfg");
  auto up = UploadTarget::Begin(*root, "have.cfg", UploadPolicy{true, true, 100}, 3, refusal);
  ASSERT_TRUE(up && up->Write("new", refusal));
  EXPECT_EQ(ScratchTree::Read(t.Root() + "/have.cfg"), "old");
  ASSERT_TRUE(up->Finish(refusal)) << refusal.reason;
  EXPECT_EQ(ScratchTree::Read(t.Root() + "/have.cfg"), "new");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), {}), "old");
  EXPECT_EQ(ModeOf(t.Root() + "/have.cfg"), 0640u);
  EXPECT_EQ(Entries(t.Root()), 23);  // have, late, new and the crash's 20
}

}  // namespace
}  // namespace tarnwick::serve
