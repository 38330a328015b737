#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "cliutil/Console.h"
#include "cliutil/FileHandle.h"

namespace tarnwick::cli {

FileError FileError::Last() {
  FileError e;
  e.code = errno;
  e.text = std::strerror(e.code);
  e.diskFull = e.code == ENOSPC || e.code == EDQUOT || e.code == EFBIG;
  e.interrupted = e.code == EINTR;
  return e;
}

namespace {

// Waits until fd can be read or written without blocking, looking at stop
// every slice; false (errno EINTR) once stop says so. A stop signal also
// cuts the wait short (the handlers do not restart calls); the slice only
// covers one that came just before the wait began.
bool WaitReady(int fd, short events, bool (*stop)()) {
  for (;;) {
    if (stop()) {
      errno = EINTR;
      return false;
    }
    pollfd ready{fd, events, 0};
    const int n = ::poll(&ready, 1, 200);
    if (n > 0 || (n < 0 && errno != EINTR)) return true;  // an error is the next call's to report
  }
}

// After POLLOUT a pipe takes this much without blocking.
constexpr std::size_t kAtomicPipeWrite = PIPE_BUF;

}  // namespace

FileHandle FileHandle::CreateExclusive(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  return FileHandle(fd < 0 ? kInvalid : fd);
}

FileHandle FileHandle::OpenForReading(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FileHandle();
  struct stat st {};
  // A folder opens for reading on POSIX but is no file to send.
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int why = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    errno = why;  // for FileError::Last()
    return FileHandle();
  }
  return FileHandle(fd);
}

FileHandle FileHandle::CreatePrivate(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  return FileHandle(fd < 0 ? kInvalid : fd);
}

FileHandle FileHandle::OpenForWriting(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  return FileHandle(fd < 0 ? kInvalid : fd);
}

FileHandle FileHandle::StandardOutput() {
  if (StandardStreamWasClosed(STDOUT_FILENO)) {
    errno = EBADF;  // the null device stands in for it: no stream to write
    return FileHandle();
  }
  int fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  return FileHandle(fd < 0 ? kInvalid : fd);
}

FileHandle FileHandle::StandardInput() {
  if (StandardStreamWasClosed(STDIN_FILENO)) {
    errno = EBADF;  // the null device stands in for it: no stream to read
    return FileHandle();
  }
  int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
  return FileHandle(fd < 0 ? kInvalid : fd);
}

bool FileHandle::WriteAll(const char* bytes, std::size_t length) {
  const int fd = static_cast<int>(handle_);
  while (length > 0) {
    ssize_t n = ::write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

std::size_t FileHandle::WritePrefix(const char* bytes, std::size_t length) {
  const int fd = static_cast<int>(handle_);
  std::size_t done = 0;
  while (done < length) {
    std::size_t chunk = length - done;
    if (stop_) {
      if (!WaitReady(fd, POLLOUT, stop_)) break;
      chunk = std::min(chunk, kAtomicPipeWrite);
    }
    ssize_t n = ::write(fd, bytes + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (n == 0) {
      errno = EIO;  // nothing written and no error: report one rather than spin
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  return done;
}

long long FileHandle::ReadAt(std::uint64_t offset, char* out, std::size_t length) const {
  const int fd = static_cast<int>(handle_);
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

long long FileHandle::Read(char* out, std::size_t length) {
  const int fd = static_cast<int>(handle_);
  for (;;) {
    if (stop_ && !WaitReady(fd, POLLIN, stop_)) return -1;
    ssize_t n = ::read(fd, out, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A descriptor someone else made non-blocking (the open file
      // description is shared with the program feeding the pipe): "nothing
      // yet" is not an error, so wait for the next bytes as a blocking read
      // would.
      if (stop_) continue;  // the wait above
      pollfd ready{fd, POLLIN, 0};
      if (::poll(&ready, 1, -1) < 0 && errno != EINTR) return -1;
      continue;
    }
    return n;
  }
}

namespace {

// File systems whose files make their content up when read: the size they
// report is 0 or a page, not what a read returns.
bool MadeUpFileSystem(const struct statfs& fs) {
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x9fa0:      // procfs
    case 0x62656572:  // sysfs
    case 0x64626720:  // debugfs
    case 0x74726163:  // tracefs
    case 0x73636673:  // securityfs
    case 0x62656570:  // configfs
    case 0x27e0eb:    // cgroup
    case 0x63677270:  // cgroup2
      return true;
    default:
      return false;
  }
}

}  // namespace

std::optional<FileFacts> FileHandle::Facts() const {
  struct stat st {};
  if (::fstat(static_cast<int>(handle_), &st) != 0) return std::nullopt;
  FileFacts facts;
  facts.regular = S_ISREG(st.st_mode);
  facts.size = static_cast<std::uint64_t>(st.st_size);
  facts.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  struct statfs fs {};
  facts.sizeStated =
      !facts.regular || ::fstatfs(static_cast<int>(handle_), &fs) != 0 || !MadeUpFileSystem(fs);
  return facts;
}

bool FileHandle::Sync() {
  for (;;) {
    if (::fsync(static_cast<int>(handle_)) == 0) return true;
    if (errno != EINTR) return false;
  }
}

std::optional<std::uint64_t> FileHandle::Size() const {
  struct stat st {};
  if (::fstat(static_cast<int>(handle_), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

bool FileHandle::Close() {
  if (!Valid()) return true;
  int fd = static_cast<int>(std::exchange(handle_, kInvalid));
  return ::close(fd) == 0;
}

bool OnMadeUpFileSystem(const std::string& path) {
  struct statfs fs {};
  return ::statfs(path.c_str(), &fs) == 0 && MadeUpFileSystem(fs);
}

}  // namespace tarnwick::cli
