// The window's save on a disk that fills up part way: the file-size limit
// makes the real file writes fail after some bytes, as a full disk does.
// The file the user chose keeps its previous content and nothing is left
// beside it; the write error still reaches the caller.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/TftpTransferEngine.h"
#include "base/FileStream.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

// Lowers the file-size limit for its lifetime. Writes beyond it fail with
// EFBIG instead of killing the process, since SIGXFSZ is ignored meanwhile.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool ok() const { return ok_; }

 private:
  rlimit saved_{};
  void (*oldHandler_)(int) = nullptr;
  bool ok_ = false;
};

std::string ReadAll(const std::string& path) {
  TFileStream in(path, FileMode::OpenRead);
  std::string bytes(static_cast<std::size_t>(in.Size()), '\0');
  in.ReadBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  return bytes;
}

TEST(SaveContent, DiskFillingUpPartWayKeepsThePreviousFile) {
  const fs::path dir = fs::temp_directory_path() / "tarnwick-save-full";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string target = (dir / "config").string();
  {
    TFileStream old(target, FileMode::Create);
    old.WriteBuffer("previous content", 16);
  }
  TftpTransferEngine engine;
  const std::string received(8192, 'r');
  engine.Engine().Content.WriteBuffer(received.data(), static_cast<std::int32_t>(received.size()));

  for (rlim_t room : {rlim_t{0}, rlim_t{1}, rlim_t{512}, rlim_t{8191}}) {
    SCOPED_TRACE(room);
    {
      FileSizeLimit limit(room);
      ASSERT_TRUE(limit.ok());
      EXPECT_THROW(engine.SaveContentToFile(target), EWriteError);
    }
    EXPECT_EQ(ReadAll(target), "previous content");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++entries;
    EXPECT_EQ(entries, 1u) << "the unfinished file must not stay beside the target";
  }
  // With room again the same save goes through whole.
  engine.SaveContentToFile(target);
  EXPECT_EQ(ReadAll(target), received);
  fs::remove_all(dir);
}

// A folder that takes no new file while the target in it can be written
// (as on a share where files may be changed but not added). Root passes
// every permission check, so it acts as another user meanwhile: the folder
// stays root's and the target becomes that user's.
class FolderTakingNoNewFile {
 public:
  FolderTakingNoNewFile(const fs::path& dir, const std::string& target) : dir_(dir) {
    if (::geteuid() == 0) {
      ok_ = ::chown(target.c_str(), kOther, kOther) == 0 && ::chmod(dir.c_str(), 0755) == 0 &&
            ::seteuid(kOther) == 0;
      asOther_ = ok_;
    } else {
      ok_ = ::chmod(dir.c_str(), 0555) == 0;
    }
  }
  ~FolderTakingNoNewFile() {
    if (asOther_) [[maybe_unused]]
      const int back = ::seteuid(0);
    ::chmod(dir_.c_str(), 0755);
  }
  FolderTakingNoNewFile(const FolderTakingNoNewFile&) = delete;
  FolderTakingNoNewFile& operator=(const FolderTakingNoNewFile&) = delete;
  bool ok() const { return ok_; }

 private:
  static constexpr uid_t kOther = 65534;
  fs::path dir_;
  bool ok_ = false;
  bool asOther_ = false;
};

// There the target is rewritten in place, whole, longer or shorter than
// before; on a disk that fills up, the room is set aside before the first
// byte changes, so the old content stays whole.
TEST(SaveContent, FolderTakingNoNewFileRewritesTheTargetInPlace) {
  const fs::path dir = fs::temp_directory_path() / "tarnwick-save-in-place";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string target = (dir / "config").string();
  struct Row {
    std::size_t size;
    rlim_t room;  // file-size limit; RLIM_INFINITY: none
    bool saved;
  };
  const Row rows[] = {
      {8192, RLIM_INFINITY, true}, {3, RLIM_INFINITY, true}, {0, RLIM_INFINITY, true},
      {8192, 512, false},          {8192, 8191, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.size << " bytes, room " << row.room);
    const std::string old(1000, 'o');
    {
      TFileStream file(target, FileMode::Create);
      file.WriteBuffer(old.data(), static_cast<std::int32_t>(old.size()));
    }
    TftpTransferEngine engine;
    const std::string received(row.size, 'r');
    engine.Engine().Content.WriteBuffer(received.data(), static_cast<std::int32_t>(received.size()));
    {
      FolderTakingNoNewFile folder(dir, target);
      ASSERT_TRUE(folder.ok());
      FileSizeLimit limit(row.room);
      ASSERT_TRUE(limit.ok());
      if (row.saved) {
        engine.SaveContentToFile(target);
      } else {
        EXPECT_THROW(engine.SaveContentToFile(target), EWriteError);
      }
    }
    EXPECT_EQ(ReadAll(target), row.saved ? received : old);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++entries;
    EXPECT_EQ(entries, 1u);
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tarnwick
