// The sources a put reads its blocks from.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "base/Stream.h"
#include "cli/UploadFile.h"

namespace tarnwick::cli {
namespace {

std::string Bytes(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
  return s;
}

TEST(UploadFile, ReadsByOffset) {
  const std::string path = ::testing::TempDir() + "tarnwick-upload.bin";
  const std::string content = Bytes(3000);
  { std::ofstream(path, std::ios::binary) << content; }
  {
    UploadFile file(path);
    EXPECT_EQ(file.Size(), 3000u);
    char buffer[1500];
    struct Row {
      std::uint64_t offset;
      long long expected;
    };
    for (Row r : {Row{0, 1500}, Row{1500, 1500}, Row{2000, 1000}, Row{3000, 0}, Row{1ull << 33, 0}}) {
      SCOPED_TRACE(r.offset);
      ASSERT_EQ(file.Read(r.offset, buffer, sizeof buffer), r.expected);
      if (r.expected > 0) {
        EXPECT_EQ(std::string(buffer, r.expected), content.substr(r.offset, r.expected));
      }
    }
  }  // closed: Windows cannot remove a file that is still open
  std::remove(path.c_str());
  EXPECT_THROW(UploadFile{path}, EFOpenError);
  EXPECT_THROW(UploadFile{::testing::TempDir()}, EFOpenError);  // a folder is no file to send
}

// Reads across the read-ahead's edge and back; then a change since the start is named.
TEST(UploadFile, ReadsAheadAndNamesAChange) {
  namespace fs = std::filesystem;
  const std::string path = ::testing::TempDir() + "tarnwick-upload-ahead.bin";
  const std::string content = Bytes(UploadFile::kReadAhead * 2 + 700);
  const struct {
    void (*change)(const std::string& path);
    std::string says;
  } rows[] = {
      {[](const std::string&) {}, ""},
      {[](const std::string& p) { fs::resize_file(p, 100); },
       " changed while it was being sent (524988 bytes at the start, 100 now)"},
      {[](const std::string& p) { fs::last_write_time(p, fs::last_write_time(p) + std::chrono::seconds(5)); },
       " was modified while it was being sent"}};
  for (const auto& row : rows) {
    { std::ofstream(path, std::ios::binary) << content; }
    {
      UploadFile file(FileHandle::OpenForReading(path), path);
      std::string arrived, block(512, '\0');
      for (std::uint64_t at = 0; at < content.size(); at += 512)
        arrived.append(block, 0, static_cast<std::size_t>(std::max(file.Read(at, block.data(), 512), 0LL)));
      EXPECT_EQ(arrived, content);
      ASSERT_EQ(file.Read(512, block.data(), 512), 512);
      EXPECT_EQ(block, content.substr(512, 512));
      row.change(path);
      EXPECT_EQ(file.Changed(), row.says.empty() ? "" : path + row.says);
    }
    std::remove(path.c_str());
  }
}

// A stream: blocks in order to a short one, re-readable only until released.
TEST(UploadStream, ReadsInOrderAndHoldsOnlyWhatIsNotReleased) {
  for (std::size_t size : {std::size_t{0}, std::size_t{700}, std::size_t{1536}}) {
    const std::string path = ::testing::TempDir() + "tarnwick-upload-stream.bin";
    const std::string content = Bytes(size);
    { std::ofstream(path, std::ios::binary) << content; }
    {
      UploadStream stream(FileHandle::OpenForReading(path));
      std::string arrived, block(512, '\0');
      for (std::uint64_t at = 0, got = 512; got == 512; at += got) {
        got = static_cast<std::uint64_t>(stream.Read(at, block.data(), 512));
        ASSERT_EQ(stream.Read(at, block.data(), 512), static_cast<long long>(got));
        arrived.append(block, 0, static_cast<std::size_t>(got));
        stream.Release(at + got);
        EXPECT_EQ(stream.Held(), 0u);
      }
      EXPECT_EQ(arrived, content);
      EXPECT_EQ(stream.Read(0, block.data(), 512), size ? -1 : 0);
    }
    std::remove(path.c_str());
  }
}

}  // namespace
}  // namespace tarnwick::cli
