// POSIX back end of TFileStream: plain descriptors. Read and write loop over
// partial transfers and EINTR so callers see whole counts.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/FileStream.h"

namespace tarnwick {

namespace {
constexpr std::intptr_t kClosed = -1;
int Fd(std::intptr_t h) { return static_cast<int>(h); }
}  // namespace

TFileStream::TFileStream(const std::string& path, FileMode mode) : path_(path), handle_(kClosed) {
  int fd;
  if (mode == FileMode::OpenRead) {
    do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    struct stat st {};
    // A directory opens fine on POSIX but is no file to read.
    if (fd >= 0 && (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
      ::close(fd);
      fd = -1;
    }
    if (fd < 0) throw EFOpenError(path);
  } else {
    int flags = mode == FileMode::CreateNew   ? O_CREAT | O_EXCL
                : mode == FileMode::OpenWrite ? 0
                                              : O_CREAT | O_TRUNC;
    do fd = ::open(path.c_str(), O_RDWR | flags | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) throw EFCreateError(path);
  }
  handle_ = fd;
}

TFileStream::~TFileStream() {
  if (handle_ != kClosed) ::close(Fd(handle_));
}

void TFileStream::Flush() {
  int rc;
  do rc = handle_ == kClosed ? -1 : ::fsync(Fd(handle_));
  while (rc != 0 && errno == EINTR);
  if (rc != 0) throw EWriteError();
}

void TFileStream::SetSize(std::int64_t size) {
  int rc;
  do rc = handle_ == kClosed ? -1 : ::ftruncate(Fd(handle_), static_cast<off_t>(size));
  while (rc != 0 && errno == EINTR);
  if (rc != 0) throw EWriteError();
}

void TFileStream::Reserve(std::int64_t size) {
  const std::int64_t before = Size();
  if (size <= 0) return;
  int rc;
  do rc = ::posix_fallocate(Fd(handle_), 0, static_cast<off_t>(size));
  while (rc == EINTR);
  if (rc == 0) return;
  // Where the system has to emulate the reservation it may have grown the
  // file part way: the old size comes back (the old bytes were never
  // touched either way).
  [[maybe_unused]] const int restored = ::ftruncate(Fd(handle_), static_cast<off_t>(before));
  throw EWriteError();
}

void TFileStream::Close() {
  if (handle_ == kClosed) return;
  int rc = ::close(Fd(handle_));
  handle_ = kClosed;
  if (rc != 0 && errno != EINTR) throw EWriteError();
}

std::int32_t TFileStream::Read(void* buffer, std::int32_t count) {
  std::int32_t done = 0;
  while (handle_ != kClosed && done < count) {
    ssize_t n = ::read(Fd(handle_), static_cast<char*>(buffer) + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::int32_t>(n);
  }
  return done;
}

std::int32_t TFileStream::Write(const void* buffer, std::int32_t count) {
  std::int32_t done = 0;
  while (handle_ != kClosed && done < count) {
    ssize_t n =
        ::write(Fd(handle_), static_cast<const char*>(buffer) + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::int32_t>(n);
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, SeekOrigin origin) {
  int whence = origin == SeekOrigin::Beginning ? SEEK_SET
               : origin == SeekOrigin::Current ? SEEK_CUR
                                               : SEEK_END;
  off_t at = handle_ == kClosed ? -1 : ::lseek(Fd(handle_), static_cast<off_t>(offset), whence);
  if (at < 0) throw EStreamError("ストリームの位置が範囲外です");
  return at;
}

std::int64_t TFileStream::Size() {
  struct stat st {};
  if (handle_ == kClosed || ::fstat(Fd(handle_), &st) != 0) throw EReadError();
  return st.st_size;
}

}  // namespace tarnwick
