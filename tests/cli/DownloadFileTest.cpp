// A get's local file: buffered download into a temporary file that becomes
// the target only on commit; the texts that name it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/Stream.h"
#include "cli/DownloadFile.h"
#include "cli/TransferText.h"
#include "cliutil/LocalFiles.h"
#include "cliutil/PasswordScrub.h"

namespace tarnwick::cli {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Bytes(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
  return s;
}

TEST(DownloadFile, BuffersBlocksAndCommitsWholeFile) {
  const std::string target = ::testing::TempDir() + "tarnwick-download.bin";
  { std::ofstream(target, std::ios::binary) << "old"; }
  const std::string content = Bytes(DownloadFile::kBufferSize * 2 + 1000);
  std::string temporary;
  {
    DownloadFile file(target);
    temporary = file.TemporaryPath();
    for (std::size_t at = 0; at < content.size(); at += 1428)
      ASSERT_TRUE(file.Write(std::string_view(content).substr(at, 1428)));
    EXPECT_EQ(ReadAll(target), "old");  // nothing under the target's name yet
    // 512 KiB + in blocks of 1428: two full buffers went out, not 368 writes.
    EXPECT_EQ(file.SystemWrites(), 2);
    // Before a get's final ACK: everything on disk, still under the temporary name.
    ASSERT_TRUE(file.FlushToDisk());
    EXPECT_EQ(file.OnDisk(), content.size());
    file.Commit();
    EXPECT_EQ(file.SystemWrites(), 3);
    EXPECT_EQ(file.Written(), content.size());
  }
  EXPECT_EQ(ReadAll(target), content);
  EXPECT_FALSE(FileExists(temporary));
  std::remove(target.c_str());
}

TEST(DownloadFile, DroppedWithoutCommitLeavesNothing) {
  const std::string target = ::testing::TempDir() + "tarnwick-download-dropped.bin";
  std::remove(target.c_str());
  std::string temporary;
  {
    DownloadFile file(target);
    temporary = file.TemporaryPath();
    ASSERT_TRUE(file.Write(Bytes(DownloadFile::kBufferSize + 1)));  // some of it reached the disk
    EXPECT_TRUE(FileExists(temporary));
  }
  EXPECT_FALSE(FileExists(temporary));
  EXPECT_FALSE(FileExists(target));
}

TEST(DownloadFile, UnwritableTargetRefusedBeforeAnything) {
  const std::string missingFolder = ::testing::TempDir() + "tarnwick-no-folder/x.bin";
  EXPECT_THROW(DownloadFile{missingFolder}, ELocalFileError);
  // A folder with no remote name to put inside it.
  EXPECT_THROW(DownloadFile{::testing::TempDir()}, ELocalFileError);
}

// The remote name that CP932 cannot hold: the message names the file part
// and never the password (real conversion, not a stand-in).
TEST(TransferText, UnconvertibleNameNeverShowsThePassword) {
  struct Row {
    std::string file, password, delimiter, mustName;
  };
  const Row rows[] = {
      {"caf\xC3\xA9.cfg", "s3cretpw", "/", "caf\xC3\xA9.cfg"},
      {"fw-\xE2\x82\xAC.bin", "s3cretpw", "/", "fw-\xE2\x82\xAC.bin"},
      {"plain.cfg",
       "s3cr\xC3\xBC"
       "tpw",
       "/", "password"},
      {"plain.cfg", "s3cretpw", "\xC3\xBC", "delimiter"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.mustName);
    for (TransferDirection d : {TransferDirection::Receive, TransferDirection::Send}) {
      try {
        WireName(d, NameFields{r.file, r.password, r.delimiter, true}, false);
        ADD_FAILURE() << "converted";
      } catch (const UsageError& e) {
        EXPECT_NE(e.Message().find(r.mustName), std::string::npos) << e.Message();
        EXPECT_EQ(e.Message().find("s3cr"), std::string::npos) << e.Message();
      }
    }
    EXPECT_EQ(WireName(TransferDirection::Receive, NameFields{r.file, r.password, r.delimiter, true}, true),
              r.file + r.delimiter + r.password);
  }
}

TEST(TransferText, PasswordScrubbedFromDeviceTexts) {
  const NameFields fields{"config", "s3cret", "/", true};
  EXPECT_EQ(WithoutPassword("File config/s3cret not found", fields), "File config*** not found");
  EXPECT_EQ(WithoutPassword("bad password s3cret", fields), "bad password ***");
  EXPECT_EQ(WithoutPassword("nothing here", fields), "nothing here");
  // Short passwords are scrubbed only behind their delimiter.
  EXPECT_EQ(WithoutPassword("a/xy and xy", NameFields{"a", "xy", "/", true}), "a*** and xy");
  EXPECT_EQ(WithoutPassword("config/x", NameFields{"config", "", "/", true}), "config/x");
  // A Japanese password in the CP932 text a device sends back (decoded).
  EXPECT_EQ(WithoutPassword("名前 設定パス", NameFields{"f", "設定パス", "/", true}), "名前 ***");
}

}  // namespace
}  // namespace tarnwick::cli
