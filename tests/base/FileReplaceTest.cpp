// The replacing write: a save that fails at any point (a write cut short as
// on a full disk, a replace the system refuses, a folder that takes no new
// file) leaves the file that was there as it was and no stray file beside
// it; a save that succeeds leaves exactly the new content.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/FileReplace.h"
#include "base/FileStream.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

// Passes the first `budget` bytes on, then reports short writes, as a file
// on a disk that has just filled up does.
class FillingStream : public TStream {
 public:
  FillingStream(TStream& inner, std::int32_t budget) : inner_(inner), budget_(budget) {}
  std::int32_t Read(void* buffer, std::int32_t count) override { return inner_.Read(buffer, count); }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    std::int32_t n = std::min(count, budget_);
    n = n > 0 ? inner_.Write(buffer, n) : 0;
    budget_ -= n;
    return n;
  }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override { return inner_.Seek(offset, origin); }
  std::int64_t Size() override { return inner_.Size(); }

 private:
  TStream& inner_;
  std::int32_t budget_;
};

class FileReplaceTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tarnwick-replace-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string PathOf(const std::string& utf8Name) const { return dir_.u8string() + "/" + utf8Name; }
  static std::string ReadAll(const std::string& utf8Path) {
    TFileStream in(utf8Path, FileMode::OpenRead);
    std::string bytes(static_cast<std::size_t>(in.Size()), '\0');
    in.ReadBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    return bytes;
  }
  static void WriteAll(const std::string& utf8Path, const std::string& bytes) {
    TFileStream out(utf8Path, FileMode::Create);
    out.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    out.Close();
  }
  static void Fill(TMemoryStream& content, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      char c = static_cast<char>('a' + i % 26);
      content.WriteBuffer(&c, 1);
    }
  }
  // Names in the test folder, sorted.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_))
      names.push_back(entry.path().filename().u8string());
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path dir_;
};

// A private file stays private: the new file takes its mode and owner.
TEST_F(FileReplaceTest, ReplacesTheOldFileWholeAndLeavesNothingBeside) {
  const std::string target = PathOf("設定.cfg");
  WriteAll(target, std::string(3000, 'x'));
#ifndef _WIN32
  const uid_t owner = ::geteuid() == 0 ? 65534 : ::geteuid();
  const gid_t group = ::geteuid() == 0 ? 65534 : ::getegid();
  ASSERT_EQ(::chmod(target.c_str(), 0600) | ::chown(target.c_str(), owner, group), 0);
#endif
  for (std::size_t size : {0u, 1u, 511u, 512u, 513u, 70000u}) {
    SCOPED_TRACE(size);
    TMemoryStream content;
    Fill(content, size);
    content.SetPosition(static_cast<std::int64_t>(size / 2));  // the whole content, wherever its position
    SaveStreamReplacing(target, content);
    EXPECT_EQ(ReadAll(target), std::string(content.Memory() ? content.Memory() : "", size));
    EXPECT_EQ(Listing(), std::vector<std::string>{"設定.cfg"});
#ifndef _WIN32
    struct stat now {};
    ASSERT_EQ(::stat(target.c_str(), &now), 0);
    EXPECT_EQ(std::tuple(now.st_mode & 07777, now.st_uid, now.st_gid), std::tuple(0600u, owner, group));
#endif
  }
}

TEST_F(FileReplaceTest, CreatesATargetThatDidNotExist) {
  TMemoryStream content;
  Fill(content, 600);
  SaveStreamReplacing(PathOf("new.bin"), content);
  EXPECT_EQ(ReadAll(PathOf("new.bin")), std::string(content.Memory(), 600));
  EXPECT_EQ(Listing(), std::vector<std::string>{"new.bin"});
}

TEST_F(FileReplaceTest, WriteFailingPartWayKeepsTheOldFileAndRemovesTheNewOne) {
  // Cut at every kind of place: nothing written, inside the first block, at
  // a block boundary, one byte short of the end.
  const std::string target = PathOf("config");
  for (std::int32_t budget : {0, 1, 511, 512, 4095}) {
    SCOPED_TRACE(budget);
    WriteAll(target, "previous content");
    TMemoryStream content;
    Fill(content, 4096);
    try {
      WriteFileReplacing(target, [&](TStream& file) {
        FillingStream full(file, budget);
        content.SaveToStream(full);
      });
      FAIL() << "a cut write must not count as saved";
    } catch (const EWriteError& e) {
      EXPECT_EQ(e.ClassName(), "EWriteError");
    }
    EXPECT_EQ(ReadAll(target), "previous content");
    EXPECT_EQ(Listing(), std::vector<std::string>{"config"});
  }
}

TEST_F(FileReplaceTest, AnyErrorOfTheWriterPassesThroughAndCleansUp) {
  WriteAll(PathOf("keep"), "old");
  struct Stop {};
  EXPECT_THROW(WriteFileReplacing(PathOf("keep"),
                                  [](TStream& file) {
                                    file.WriteBuffer("partial", 7);
                                    throw Stop{};
                                  }),
               Stop);
  EXPECT_EQ(ReadAll(PathOf("keep")), "old");
  EXPECT_EQ(Listing(), std::vector<std::string>{"keep"});
}

TEST_F(FileReplaceTest, RefusedReplaceRaisesTheCreateErrorAndCleansUp) {
  // A folder under the target's name: the system refuses to replace it.
  const std::string target = PathOf("taken");
  fs::create_directories(dir_ / "taken");
  WriteAll(PathOf("taken") + "/inside", "x");
  TMemoryStream content;
  Fill(content, 100);
  try {
    SaveStreamReplacing(target, content);
    FAIL() << "a folder cannot be replaced by a file";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "ファイル " + target + " を作成できません");
  }
  EXPECT_TRUE(fs::is_directory(dir_ / "taken"));
  EXPECT_EQ(ReadAll(PathOf("taken") + "/inside"), "x");
  EXPECT_EQ(Listing(), std::vector<std::string>{"taken"});
}

TEST_F(FileReplaceTest, MissingFolderRaisesTheCreateErrorWithTheTarget) {
  const std::string target = PathOf("no-such-folder") + "/config";
  TMemoryStream content;
  Fill(content, 10);
  try {
    SaveStreamReplacing(target, content);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "ファイル " + target + " を作成できません");
  }
  EXPECT_TRUE(Listing().empty());
}

TEST(TemporarySibling, LivesInTheTargetsFolderUnderAShortName) {
  struct Row {
    const char* target;
    std::uint32_t tag;
    const char* expected;
  };
  const Row rows[] = {
      {"dir/config", 0x0123abcdu, "dir/~tw0123abcd.tmp"},
      {"/a/b/c.bin", 0xffffffffu, "/a/b/~twffffffff.tmp"},
      {"config", 0u, "~tw00000000.tmp"},
      {"dir/", 1u, "dir/~tw00000001.tmp"},
      {"", 16u, "~tw00000010.tmp"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    EXPECT_EQ(TemporarySibling(row.target, row.tag), row.expected);
  }
  EXPECT_NE(TemporarySibling("x/y", 1), TemporarySibling("x/y", 2));
}

}  // namespace
}  // namespace tarnwick
