// The sources a put reads its blocks from.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tarnwick::cli
