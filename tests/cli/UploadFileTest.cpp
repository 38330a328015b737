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

// Blocks read in order across the read-ahead buffer's edge, then again
// from an earlier block (a retransmission): every byte as in the file.
TEST(UploadFile, ReadAheadAcrossItsEdgeAndBack) {
  const std::string path = ::testing::TempDir() + "tarnwick-upload-ahead.bin";
  const std::string content = Bytes(UploadFile::kReadAhead * 2 + 700);
  { std::ofstream(path, std::ios::binary) << content; }
  {
    UploadFile file(path);
    std::string block(512, '\0');
    std::uint64_t offset = 0;
    std::size_t mismatches = 0;
    for (; offset < content.size(); offset += 512) {
      const long long got = file.Read(offset, block.data(), 512);
      const std::size_t expected = std::min<std::size_t>(512, content.size() - offset);
      ASSERT_EQ(got, static_cast<long long>(expected)) << offset;
      if (block.compare(0, expected, content, offset, expected) != 0) ++mismatches;
    }
    EXPECT_EQ(mismatches, 0u);
    for (std::uint64_t back : {UploadFile::kReadAhead - 512, std::uint64_t{0}}) {
      ASSERT_EQ(file.Read(back, block.data(), 512), 512);
      EXPECT_EQ(block, content.substr(back, 512));
    }
  }
  std::remove(path.c_str());
}

// Whether the file moved since the transfer started: size or modification
// time, whichever changed.
TEST(UploadFile, ChangedNamesWhatMoved) {
  namespace fs = std::filesystem;
  struct Row {
    const char* what;
    void (*change)(const std::string& path);
    const char* says;  // part of the reason; "" for none
  } rows[] = {
      {"untouched", [](const std::string&) {}, ""},
      {"grown", [](const std::string& p) { std::ofstream(p, std::ios::binary | std::ios::app) << "more"; },
       "(3000 bytes at the start, 3004 now)"},
      {"shrunk", [](const std::string& p) { fs::resize_file(p, 100); }, "(3000 bytes at the start, 100 now)"},
      {"rewritten in place",
       [](const std::string& p) { fs::last_write_time(p, fs::last_write_time(p) + std::chrono::seconds(5)); },
       "was modified while it was being sent"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string path = ::testing::TempDir() + "tarnwick-upload-changed.bin";
    { std::ofstream(path, std::ios::binary) << Bytes(3000); }
    {
      UploadFile file(FileHandle::OpenForReading(path), path);
      row.change(path);
      const std::string reason = file.Changed();
      if (*row.says == '\0') {
        EXPECT_EQ(reason, "");
      } else {
        EXPECT_NE(reason.find(row.says), std::string::npos) << reason;
        EXPECT_EQ(reason.rfind(path, 0), 0u) << reason;
      }
    }
    std::remove(path.c_str());
  }
}

// A stream read in order: full blocks until its end, a short or empty one
// there, only the bytes since the last release held, nothing re-read from
// before it.
TEST(UploadStream, ReadsInOrderAndHoldsOnlyWhatIsNotReleased) {
  for (std::size_t size : {std::size_t{0}, std::size_t{700}, std::size_t{1536}}) {
    SCOPED_TRACE(size);
    const std::string path = ::testing::TempDir() + "tarnwick-upload-stream.bin";
    const std::string content = Bytes(size);
    { std::ofstream(path, std::ios::binary) << content; }
    {
      UploadStream stream(FileHandle::OpenForReading(path));
      EXPECT_FALSE(stream.SizeKnown());
      std::string arrived, block(512, '\0');
      for (std::uint64_t offset = 0;; offset += 512) {
        long long got = stream.Read(offset, block.data(), 512);
        ASSERT_GE(got, 0);
        // Sent again before the ACK: the same bytes.
        ASSERT_EQ(stream.Read(offset, block.data(), 512), got);
        arrived.append(block, 0, static_cast<std::size_t>(got));
        stream.Release(offset + static_cast<std::uint64_t>(got));
        EXPECT_LE(stream.Held(), 512u);
        if (got < 512) break;
      }
      EXPECT_EQ(arrived, content);
      if (size >= 512) {
        EXPECT_EQ(stream.Read(0, block.data(), 512), -1);
        EXPECT_NE(stream.ReadFailure().find("released"), std::string::npos);
      }
    }
    std::remove(path.c_str());
  }
  // A folder is no regular file to send.
  EXPECT_THROW(UploadFile(FileHandle::OpenForReading(::testing::TempDir()), "folder"), EFOpenError);
}

}  // namespace
}  // namespace tarnwick::cli
