// File streams and the memory stream's load/save, with the exact error texts
// the user sees.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "../support/RequiredPeer.h"
#include "base/FileStream.h"
#include "base/MemoryStream.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

class FileStreamTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() / ("tarnwick-fs-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) +
                                     "-" + testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // UTF-8 path text of a file in the test folder.
  std::string PathOf(const std::string& utf8Name) const { return dir_.u8string() + "/" + utf8Name; }
  static std::string ReadAll(const std::string& utf8Path) {
    TFileStream in(utf8Path, FileMode::OpenRead);
    std::string bytes(static_cast<std::size_t>(in.Size()), '\0');
    in.ReadBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    return bytes;
  }
  fs::path dir_;
};

TEST_F(FileStreamTest, SaveAndLoadRoundTripAcrossBlockBoundaries) {
  for (int size : {0, 1, 511, 512, 513, 65536 + 3}) {
    SCOPED_TRACE(size);
    TMemoryStream out;
    for (int i = 0; i < size; ++i) {
      char c = static_cast<char>(i % 251);
      out.WriteBuffer(&c, 1);
    }
    std::string path = PathOf("日本語-" + std::to_string(size) + ".bin");
    out.SaveToFile(path);
    EXPECT_EQ(ReadAll(path).size(), static_cast<std::size_t>(size));

    TMemoryStream in;
    in.WriteBuffer("old content", 11);
    in.LoadFromFile(path);
    ASSERT_EQ(in.Size(), size);
    EXPECT_EQ(in.Position(), 0);
    EXPECT_EQ(std::string(in.Memory(), static_cast<std::size_t>(size)),
              std::string(out.Memory(), static_cast<std::size_t>(size)));
  }
}

TEST_F(FileStreamTest, SaveReplacesALongerFile) {
  std::string path = PathOf("replace.txt");
  TMemoryStream s;
  s.WriteBuffer("0123456789", 10);
  s.SaveToFile(path);
  s.SetSize(3);
  s.SaveToFile(path);
  EXPECT_EQ(ReadAll(path), "012");
}

TEST_F(FileStreamTest, MissingFileRaisesEFOpenErrorWithThePath) {
  std::string path = PathOf("無い.txt");
  TMemoryStream s;
  try {
    s.LoadFromFile(path);
    FAIL() << "no error raised";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.ClassName(), "EFOpenError");
    EXPECT_EQ(e.Message(), "ファイル " + path + " は開けません");
  }
}

TEST_F(FileStreamTest, DirectoryCannotBeOpenedAsAFile) {
  EXPECT_THROW(TFileStream(dir_.u8string(), FileMode::OpenRead), EFOpenError);
}

TEST_F(FileStreamTest, UncreatableFileRaisesEFCreateErrorWithThePath) {
  std::string path = PathOf("no-such-folder/x.bin");
  TMemoryStream s;
  try {
    s.SaveToFile(path);
    FAIL() << "no error raised";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.ClassName(), "EFCreateError");
    EXPECT_EQ(e.Message(), "ファイル " + path + " を作成できません");
  }
}

TEST_F(FileStreamTest, CreateNewNeverReplacesAnExistingFile) {
  const std::string path = PathOf("only-once.bin");
  {
    TFileStream first(path, FileMode::CreateNew);
    first.WriteBuffer("kept", 4);
    first.Flush();
    first.Close();
    EXPECT_THROW(first.Flush(), EWriteError) << "nothing left to flush once closed";
  }
  EXPECT_THROW(TFileStream(path, FileMode::CreateNew), EFCreateError);
  EXPECT_EQ(ReadAll(path), "kept");
}

TEST_F(FileStreamTest, FileStreamReadSeekAndSize) {
  std::string path = PathOf("rw.bin");
  {
    TFileStream f(path, FileMode::Create);
    f.WriteBuffer("hello world", 11);
    EXPECT_EQ(f.Size(), 11);
    f.Close();
    f.Close();  // harmless twice
  }
  TFileStream f(path, FileMode::OpenRead);
  EXPECT_EQ(f.Seek(6, SeekOrigin::Beginning), 6);
  char buf[16];
  EXPECT_EQ(f.Read(buf, 16), 5);
  EXPECT_EQ(std::string(buf, 5), "world");
  EXPECT_EQ(f.Read(buf, 16), 0);
  EXPECT_EQ(f.Write("x", 1), 0);  // opened for reading only
}

#ifndef _WIN32
bool TFileStreamCanOpen(const std::string& path) {
  try {
    TFileStream probe(path, FileMode::OpenRead);
    return true;
  } catch (const EFOpenError&) {
    return false;
  }
}

TEST_F(FileStreamTest, FullDiskIsAWriteErrorNotASilentSuccess) {
  if (!TFileStreamCanOpen("/dev/full")) TARNWICK_MISSING_PEER("no /dev/full");
  TMemoryStream s;
  s.WriteBuffer("data", 4);
  EXPECT_THROW(s.SaveToFile("/dev/full"), EWriteError);
}
#endif

#ifdef _WIN32
TEST_F(FileStreamTest, FileOpenForReadingCannotBeReplacedMeanwhile) {
  std::string path = PathOf("shared.bin");
  TMemoryStream s;
  s.WriteBuffer("abc", 3);
  s.SaveToFile(path);
  TFileStream reader(path, FileMode::OpenRead);
  TFileStream secondReader(path, FileMode::OpenRead);  // reading is shared
  EXPECT_THROW(TFileStream(path, FileMode::Create), EFCreateError);
}
#endif

}  // namespace
}  // namespace tarnwick
