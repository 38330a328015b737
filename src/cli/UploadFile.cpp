#include "cli/UploadFile.h"

#include "base/Stream.h"

namespace tarnwick::cli {

UploadFile::UploadFile(const std::string& path) : file_(FileHandle::OpenForReading(path)) {
  std::optional<std::uint64_t> size = file_.Valid() ? file_.Size() : std::nullopt;
  if (!size) throw EFOpenError(path);
  size_ = *size;
}

long long UploadFile::Read(std::uint64_t offset, char* out, std::size_t length) {
  return file_.ReadAt(offset, out, length);
}

}  // namespace tarnwick::cli
