// The window's save on a disk that fills up part way: the file-size limit
// makes the real file writes fail after some bytes, as a full disk does.
// The file the user chose keeps its previous content and nothing is left
// beside it; the write error still reaches the caller.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
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

// Root passes every permission check: it acts as a user owning the target.
struct FolderTakingNoNewFile {
  FolderTakingNoNewFile(const fs::path& folder, const std::string& target) : dir(folder) {
    ok = root ? ::chown(target.c_str(), 65534, 65534) == 0 && ::seteuid(65534) == 0
              : ::chmod(dir.c_str(), 0555) == 0;
  }
  FolderTakingNoNewFile(const FolderTakingNoNewFile&) = delete;
  ~FolderTakingNoNewFile() { root ? void(::seteuid(0)) : void(::chmod(dir.c_str(), 0755)); }
  fs::path dir;
  bool root = ::geteuid() == 0, ok = false;
};

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
  {
    // A folder taking no new file: rewritten in place, the room set aside first.
    FolderTakingNoNewFile folder(dir, target);
    ASSERT_TRUE(folder.ok);
    const std::string more(8192, 'm');
    engine.Engine().Content.WriteBuffer(more.data(), 8192);
    {
      FileSizeLimit limit(4096);
      EXPECT_THROW(engine.SaveContentToFile(target), EWriteError);
    }
    EXPECT_EQ(ReadAll(target), received);
    engine.SaveContentToFile(target);
    EXPECT_EQ(ReadAll(target), received + more);
    engine.Engine().Content.SetSize(3);
    engine.SaveContentToFile(target);
    EXPECT_EQ(ReadAll(target), "rrr");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tarnwick
