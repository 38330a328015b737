// Folders beneath ROOT as descriptors: every name resolved relative to one,
// no symbolic link followed, no device opened.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "serve/RequestName.h"
#include "serve/RootFolder.h"
#include "serve/RootFolderDetail.h"

namespace tarnwick::serve {

using cli::FileError;
using cli::FileHandle;

namespace {

// Cleared once the kernel (or a seccomp filter) has said it has no openat2,
// so the walk is not preceded by a failing call on every request.
std::atomic<bool> g_openat2{true};

int Fd(const FileHandle& h) { return static_cast<int>(h.Native()); }

Refusal FromErrno(int code, const char* what) {
  switch (code) {
    case ENOENT:
    case ENOTDIR:
      return Refuse(kErrorNotFound, std::string(what) + " not found");
    case ELOOP:
    case EXDEV:
      return Refuse(kErrorAccess, std::string(what) + " is or passes a symbolic link");
    case EACCES:
    case EPERM:
      return Refuse(kErrorAccess, std::string(what) + ": permission denied");
    default:
      return Refuse(kErrorNotDefined, std::string(what) + ": " + std::strerror(code));
  }
}

int OpenAt2(int dir, const std::string& path, int flags) {
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  for (;;) {
    const long fd = ::syscall(SYS_openat2, dir, path.c_str(), &how, sizeof how);
    if (fd >= 0 || errno != EINTR) return static_cast<int>(fd);
  }
}

// One component at a time, each opened as a folder and never through a link.
int Walk(int dir, const std::vector<std::string>& folders, Refusal& refusal) {
  int current = ::fcntl(dir, F_DUPFD_CLOEXEC, 0);
  for (const std::string& part : folders) {
    if (current < 0) break;
    const int next = ::openat(current, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      refusal = FromErrno(errno, "folder");
      struct stat st {};
      if (::fstatat(current, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        refusal = Refuse(kErrorAccess, "folder is a symbolic link");
    }
    ::close(current);
    current = next;
  }
  if (current < 0 && !refusal.Refused()) refusal = FromErrno(errno, "folder");
  return current;
}

}  // namespace

struct RootFolder::Impl {
  FileHandle dir;
};

RootFolder::RootFolder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RootFolder::~RootFolder() = default;

bool NativeNameRules() { return false; }

void root_folder_detail::UseOpenat2(bool use) { g_openat2 = use; }

std::unique_ptr<RootFolder> RootFolder::OpenRoot(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->dir = FileHandle::Adopt(fd);
  return std::make_unique<RootFolder>(std::move(impl));
}

std::unique_ptr<RootFolder> RootFolder::Descend(const std::vector<std::string>& folders,
                                                Refusal& refusal) const {
  int fd = -1;
  bool walked = true;
  if (g_openat2 && !folders.empty()) {
    std::string path;
    for (const std::string& part : folders) path += (path.empty() ? "" : "/") + part;
    fd = OpenAt2(Fd(impl_->dir), path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    walked = fd < 0;
    if (walked && (errno == ENOSYS || errno == E2BIG)) g_openat2 = false;
  }
  // After a refusal by openat2 (or without it) the walk finds which
  // component is missing, a link or no folder, so the client gets the
  // right code; it follows no link either.
  if (walked) fd = Walk(Fd(impl_->dir), folders, refusal);
  if (fd < 0) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->dir = FileHandle::Adopt(fd);
  return std::make_unique<RootFolder>(std::move(impl));
}

OpenedFile RootFolder::OpenRegular(const std::string& name) const {
  OpenedFile out;
  const int dir = Fd(impl_->dir);
  // A look before the open keeps device nodes from being opened at all (an
  // open may rewind a tape or hang up a line); the check after it is the
  // one that counts, on what was really opened.
  struct stat st {};
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    out.refusal = FromErrno(errno, "file");
    return out;
  }
  if (!S_ISREG(st.st_mode)) {
    out.refusal = Refuse(kErrorAccess, S_ISLNK(st.st_mode)   ? "file is a symbolic link"
                                       : S_ISDIR(st.st_mode) ? "name is a folder"
                                                             : "not a regular file (device, FIFO or socket)");
    return out;
  }
  const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    out.refusal = FromErrno(errno, "file");
    return out;
  }
  out.file = FileHandle::Adopt(fd);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    out.file = FileHandle();
    out.refusal = Refuse(kErrorAccess, "not a regular file (replaced while opened)");
    return out;
  }
  out.key = FileKey{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  out.size = static_cast<std::uint64_t>(st.st_size);
  return out;
}

EntryKind RootFolder::Look(const std::string& name) const {
  struct stat st {};
  if (::fstatat(Fd(impl_->dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? EntryKind::None : EntryKind::Other;
  return S_ISREG(st.st_mode) ? EntryKind::Regular : EntryKind::Other;
}

FileHandle RootFolder::CreatePrivate(const std::string& name, FileError& error) const {
  const int fd =
      ::openat(Fd(impl_->dir), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) error = FileError::Last();
  return FileHandle::Adopt(fd);
}

void RootFolder::SetPublishedMode(FileHandle& file, const std::string& replacing) const {
  struct stat st {};
  mode_t mode;
  if (::fstatat(Fd(impl_->dir), replacing.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
    // Its owner too, where the system lets us (as root, or for our own
    // file); refused otherwise, and then the mode alone still follows.
    const int owned = ::fchown(Fd(file), st.st_uid, st.st_gid);
    (void)owned;
    mode = st.st_mode & 0777;  // never set-id bits on what a client sent
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(Fd(file), mode);
}

bool RootFolder::Publish(const std::string& temp, const std::string& name, bool replace, bool& exists,
                         FileError& error) const {
  const int dir = Fd(impl_->dir);
  exists = false;
  if (replace) {
    if (::renameat(dir, temp.c_str(), dir, name.c_str()) == 0) return true;
    error = FileError::Last();
    return false;
  }
  if (::renameat2(dir, temp.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EINVAL || errno == ENOSYS) {
    // File systems without RENAME_NOREPLACE: a hard link is just as exclusive.
    if (::linkat(dir, temp.c_str(), dir, name.c_str(), 0) == 0) {
      ::unlinkat(dir, temp.c_str(), 0);
      return true;
    }
  }
  exists = errno == EEXIST;
  error = FileError::Last();
  return false;
}

void RootFolder::Remove(const std::string& name) const noexcept {
  ::unlinkat(Fd(impl_->dir), name.c_str(), 0);
}

bool RootFolder::Sync(FileError& error) const {
  if (::fsync(Fd(impl_->dir)) == 0) return true;
  error = FileError::Last();
  return false;
}

}  // namespace tarnwick::serve
