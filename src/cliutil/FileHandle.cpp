// The owner's moves, the same on every system; the rest is in
// FileHandle_posix.cpp / FileHandle_win.cpp.
#include "cliutil/FileHandle.h"

#include <utility>

namespace tarnwick::cli {

FileHandle::~FileHandle() { Close(); }

FileHandle::FileHandle(FileHandle&& other) noexcept : handle_(std::exchange(other.handle_, kInvalid)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kInvalid);
  }
  return *this;
}

}  // namespace tarnwick::cli
