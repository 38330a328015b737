// Uploads on a real tree: published complete or not at all, an existing
// file replaced only when asked and then in one rename. (Refusals before
// the first ACK are in TransferStartTest.)
#include <sys/stat.h>

#include "ServeTestTree.h"
#include "serve/RootFolder.h"
#include "serve/UploadTarget.h"

namespace tarnwick::serve {
namespace {

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(UploadTarget, PublishedWholeOrNotAtAll) {
  ScratchTree t;
  t.Write(t.Root() + "/have.cfg", "old");
  std::string error;
  auto root = RootFolder::OpenRoot(t.Root(), error);
  ASSERT_TRUE(root) << error;
  const UploadPolicy policy{true, false, 11};
  Refusal refusal;

  auto fresh = UploadTarget::Begin(*root, "/new.cfg", policy, 8, refusal);
  ASSERT_TRUE(fresh) << refusal.reason;
  ASSERT_EQ(Names(t.Root()).size(), 2u);  // the temporary file
  EXPECT_TRUE(fresh->Write("hello ", refusal) && fresh->Write("world", refusal)) << refusal.reason;
  EXPECT_FALSE(fresh->Write("!", refusal));  // 12 bytes: over the limit of 11
  EXPECT_EQ(refusal.code, kErrorDiskFull);
  EXPECT_EQ(Names(t.Root()), std::vector<std::string>{"have.cfg"});

  auto aborted = UploadTarget::Begin(*root, "new.cfg", policy, {}, refusal);
  ASSERT_TRUE(aborted && aborted->Write("part", refusal));
  aborted.reset();
  EXPECT_EQ(Names(t.Root()), std::vector<std::string>{"have.cfg"});

  auto done = UploadTarget::Begin(*root, "new.cfg", policy, {}, refusal);
  ASSERT_TRUE(done && done->Write("complete", refusal));
  EXPECT_FALSE(std::filesystem::exists(t.Root() + "/new.cfg"));
  ASSERT_TRUE(done->Finish(refusal)) << refusal.reason;
  EXPECT_EQ(ScratchTree::Read(t.Root() + "/new.cfg"), "complete");
  struct stat st {};
  ASSERT_EQ(::stat((t.Root() + "/new.cfg").c_str(), &st), 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

  // A file that appears at the name while the upload runs is not replaced.
  auto raced = UploadTarget::Begin(*root, "late.cfg", policy, {}, refusal);
  ASSERT_TRUE(raced && raced->Write("mine", refusal));
  t.Write(t.Root() + "/late.cfg", "theirs");
  EXPECT_FALSE(raced->Finish(refusal));
  EXPECT_EQ(refusal.code, kErrorExists);
  EXPECT_EQ(ScratchTree::Read(t.Root() + "/late.cfg"), "theirs");
  EXPECT_EQ(Names(t.Root()), (std::vector<std::string>{"have.cfg", "late.cfg", "new.cfg"}));
}

TEST(UploadTarget, OverwriteReplacesInOneRenameKeepingTheMode) {
  ScratchTree t;
  t.Write(t.Root() + "/have.cfg", "old");
  ::chmod((t.Root() + "/have.cfg").c_str(), 0640);
  std::string error;
  auto root = RootFolder::OpenRoot(t.Root(), error);
  ASSERT_TRUE(root) << error;
  std::ifstream reader(t.Root() + "/have.cfg");  // a reader of the old file
  Refusal refusal;
  auto up = UploadTarget::Begin(*root, "have.cfg", UploadPolicy{true, true, 100}, 3, refusal);
  ASSERT_TRUE(up && up->Write("new", refusal));
  EXPECT_EQ(ScratchTree::Read(t.Root() + "/have.cfg"), "old");  // untouched until the rename
  ASSERT_TRUE(up->Finish(refusal)) << refusal.reason;
  EXPECT_EQ(ScratchTree::Read(t.Root() + "/have.cfg"), "new");
  std::string old;
  reader >> old;
  EXPECT_EQ(old, "old");  // never rewritten in place
  struct stat st {};
  ASSERT_EQ(::stat((t.Root() + "/have.cfg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Names(t.Root()), std::vector<std::string>{"have.cfg"});
}

}  // namespace
}  // namespace tarnwick::serve
