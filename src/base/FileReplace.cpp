#include "base/FileReplace.h"

#include <chrono>
#include <memory>
#include <random>

#include "base/FileStream.h"

namespace tarnwick {

namespace {

// Names are tried until one is new; a handful of clashes with files left by
// an earlier crash is the most that can plausibly happen.
constexpr int kAttempts = 8;

std::uint32_t RandomTag() {
  std::random_device device;
  auto now = static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  // Some C++ runtimes give a fixed sequence from random_device; the clock
  // keeps two runs from trying the same names.
  return device() ^ now;
}

// The new file: closed and removed unless it has taken the target's place.
// Closed first, since Windows removes no file that is still open.
class TemporaryFile {
 public:
  TemporaryFile(std::string path, std::unique_ptr<TFileStream> file)
      : path_(std::move(path)), file_(std::move(file)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    file_.reset();
    if (!placed_) file_replace_detail::RemoveQuietly(path_);
  }
  TFileStream& File() { return *file_; }
  const std::string& Path() const { return path_; }
  void Placed() { placed_ = true; }

 private:
  std::string path_;
  std::unique_ptr<TFileStream> file_;
  bool placed_ = false;
};

// For a folder that takes no new file but lets its files be changed (a
// share where the user may edit but not add): the target is rewritten where
// it is. The content is gathered first and the disk space for it set aside
// before the first old byte is overwritten, so a full disk leaves the old
// content whole. False when the target cannot be opened for writing.
bool RewriteInPlace(const std::string& target, const std::function<void(TStream& file)>& write) {
  std::unique_ptr<TFileStream> file;
  try {
    file = std::make_unique<TFileStream>(target, FileMode::OpenWrite);
  } catch (const EFCreateError&) {
    return false;
  }
  TMemoryStream content;
  write(content);
  file->Reserve(content.Size());
  file->Seek(0, SeekOrigin::Beginning);
  content.SaveToStream(*file);
  file->SetSize(content.Size());
  file->Flush();
  file->Close();
  return true;
}

}  // namespace

std::string TemporarySibling(const std::string& target, std::uint32_t tag) {
  std::size_t folderEnd = target.size();
  while (folderEnd > 0 && !file_replace_detail::IsPathSeparator(target[folderEnd - 1])) --folderEnd;
  static const char kHex[] = "0123456789abcdef";
  std::string name = target.substr(0, folderEnd) + "~tw";
  for (int shift = 28; shift >= 0; shift -= 4) name += kHex[(tag >> shift) & 0xF];
  return name + ".tmp";
}

void WriteFileReplacing(const std::string& target, const std::function<void(TStream& file)>& write) {
  std::uint32_t tag = RandomTag();
  for (int attempt = 0; attempt < kAttempts; ++attempt, tag = tag * 2654435761u + 1) {
    const std::string path = TemporarySibling(target, tag);
    std::unique_ptr<TFileStream> file;
    try {
      file = std::make_unique<TFileStream>(path, FileMode::CreateNew);
    } catch (const EFCreateError&) {
      continue;  // the name is taken, or the folder refuses new files
    }
    TemporaryFile temporary(path, std::move(file));
    write(temporary.File());
    temporary.File().Flush();
    temporary.File().Close();
    if (!file_replace_detail::MoveOver(temporary.Path(), target)) throw EFCreateError(target);
    temporary.Placed();
    return;
  }
  if (RewriteInPlace(target, write)) return;
  // The user chose the target, so the error names the target.
  throw EFCreateError(target);
}

void SaveStreamReplacing(const std::string& target, TMemoryStream& content) {
  WriteFileReplacing(target, [&content](TStream& file) { content.SaveToStream(file); });
}

}  // namespace tarnwick
