// The owner's moves, the same on every system; the rest is in
// FileHandle_posix.cpp / FileHandle_win.cpp.
#include "cliutil/FileHandle.h"

#include <utility>

namespace tarnwick::cli {

FileHandle::~FileHandle() { Close(); }

FileHandle::FileHandle(FileHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, kInvalid)), stop_(std::exchange(other.stop_, nullptr)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kInvalid);
    stop_ = std::exchange(other.stop_, nullptr);
  }
  return *this;
}

}  // namespace tarnwick::cli
