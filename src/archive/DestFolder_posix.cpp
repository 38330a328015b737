// DEST through its descriptor: openat and friends with O_NOFOLLOW on every
// component, flock for the lock (released by the kernel with the process).
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <thread>
#include <utility>

#include "archive/DestFolder.h"

namespace tarnwick::archive {

using cli::FileError;
using cli::FileHandle;

namespace {

// Owns a folder descriptor for the length of one operation.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

std::vector<std::string> Parts(const std::string& rel) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= rel.size()) {
    std::size_t end = rel.find('/', start);
    if (end == std::string::npos) end = rel.size();
    if (end > start) parts.push_back(rel.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// The error of the call just made on dir/name, in plainer words when a
// symbolic link refused to be followed.
FileError LastError(int dir, const std::string& name) {
  FileError e = FileError::Last();
  struct stat st {};
  if ((e.code == ELOOP || e.code == ENOTDIR || e.code == EMLINK) &&
      ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode))
      e.text = "it is a symbolic link (not followed inside the backup folder)";
    else if (!S_ISDIR(st.st_mode))
      e.text = "it is not a folder";
  }
  return e;
}

bool IsLink(int dir, const std::string& name) {
  struct stat st {};
  return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

struct DestFolder::Impl {
  Fd root;
  FileHandle lock;
  mode_t fileMode = 0600, folderMode = 0700;

  // The folder rel, walked from DEST one plain name at a time; make creates
  // what is missing.
  Fd OpenFolder(const std::string& rel, bool make, FileError& error) const {
    Fd current(::dup(root.Get()));
    if (current.Get() < 0) {
      error = FileError::Last();
      return Fd();
    }
    for (const std::string& part : Parts(rel)) {
      if (part == "." || part == "..") {
        error.code = EINVAL;
        error.text = "\"" + part + "\" is not a plain name";
        return Fd();
      }
      if (make && ::mkdirat(current.Get(), part.c_str(), folderMode) != 0 && errno != EEXIST) {
        error = FileError::Last();
        return Fd();
      }
      Fd next(::openat(current.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (next.Get() < 0) {
        error = LastError(current.Get(), part);
        return Fd();
      }
      current = std::move(next);
    }
    return current;
  }

  Fd Parent(const std::string& rel, std::string& leaf, FileError& error) const {
    const std::size_t slash = rel.rfind('/');
    leaf = slash == std::string::npos ? rel : rel.substr(slash + 1);
    return OpenFolder(slash == std::string::npos ? std::string() : rel.substr(0, slash), false, error);
  }
};

DestFolder::DestFolder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
DestFolder::~DestFolder() = default;

std::unique_ptr<DestFolder> DestFolder::Open(const std::string& dest, const std::string& runInfo,
                                             DestOpening& opening, const LockWait& wait) {
  auto impl = std::make_unique<Impl>();
  auto fail = [&](const std::string& what) {
    opening.error = FileErrorText(what, FileError::Last());
    return nullptr;
  };
  // Missing parents are made as mkdir -p makes them; DEST itself is ours.
  int made = ::mkdir(dest.c_str(), 0700);
  if (made != 0 && errno == ENOENT) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(dest).parent_path(), ec);
    made = ::mkdir(dest.c_str(), 0700);
  }
  if (made == 0)
    opening.created = true;
  else if (errno != EEXIST)
    return fail("cannot create the folder " + dest);
  // DEST itself is named by the user: a link there is followed, as cp would.
  impl->root = Fd(::open(dest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (impl->root.Get() < 0) return fail("cannot open the folder " + dest);
  struct stat st {};
  if (::fstat(impl->root.Get(), &st) != 0) return fail("cannot read the folder " + dest);
  // A team's folder (group-readable) lets the group read what we save;
  // others never may, whatever the folder allows.
  if (!opening.created && (st.st_mode & S_IRGRP)) {
    impl->fileMode = 0640;
    impl->folderMode = 0750;
    opening.groupReadable = true;
  }
  if (st.st_mode & S_IROTH)
    opening.warnings.push_back(
        dest + " can be read by other users and will hold device configurations: chmod o-rwx " + dest);

  const int lockFd =
      ::openat(impl->root.Get(), kLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, impl->fileMode);
  if (lockFd < 0) {
    opening.error = FileErrorText("cannot open the lock file " + dest + "/" + kLockName,
                                  LastError(impl->root.Get(), kLockName));
    return nullptr;
  }
  impl->lock = FileHandle::Adopt(lockFd);
  LockWaiter waiter(wait);
  while (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return fail("cannot lock " + dest + "/" + kLockName);
    if (waiter.KeepWaiting(impl->lock)) continue;
    opening.busy = true;
    opening.error = waiter.Stopped() ? LockWaitStoppedText(dest, impl->lock) : LockHeldText(dest, impl->lock);
    return nullptr;
  }
  if (::ftruncate(lockFd, 0) != 0 || !impl->lock.WriteAll(runInfo.data(), runInfo.size()))
    return fail("cannot write the lock file " + dest + "/" + kLockName);
  return std::unique_ptr<DestFolder>(new DestFolder(std::move(impl)));
}

FileHandle DestFolder::CreateExclusive(const std::string& rel, FileError& error) {
  std::string leaf;
  Fd dir = impl_->Parent(rel, leaf, error);
  if (dir.Get() < 0) return FileHandle();
  const int fd =
      ::openat(dir.Get(), leaf.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, impl_->fileMode);
  if (fd < 0) error = LastError(dir.Get(), leaf);
  return FileHandle::Adopt(fd);
}

FileHandle DestFolder::OpenExisting(const std::string& rel, bool& missing, FileError& error) {
  missing = false;
  std::string leaf;
  Fd dir = impl_->Parent(rel, leaf, error);
  if (dir.Get() < 0) {
    missing = error.code == ENOENT;
    return FileHandle();
  }
  // Non-blocking, so a FIFO planted in its place cannot hang the run.
  const int fd = ::openat(dir.Get(), leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    missing = errno == ENOENT;
    error = LastError(dir.Get(), leaf);
    if (error.code == ELOOP || IsLink(dir.Get(), leaf))
      error.text = "it is a symbolic link (not followed inside the backup folder)";
    return FileHandle();
  }
  FileHandle file = FileHandle::Adopt(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error.code = EINVAL;
    error.text = "it is not a regular file";
    return FileHandle();
  }
  return file;
}

bool DestFolder::MakeFolders(const std::string& rel, FileError& error) {
  return impl_->OpenFolder(rel, true, error).Get() >= 0;
}

bool DestFolder::Link(const std::string& from, const std::string& to, bool& exists, FileError& error) {
  exists = false;
  std::string fromLeaf, toLeaf;
  Fd fromDir = impl_->Parent(from, fromLeaf, error);
  if (fromDir.Get() < 0) return false;
  Fd toDir = impl_->Parent(to, toLeaf, error);
  if (toDir.Get() < 0) return false;
  // Flags 0: a link at `from` is linked itself, never its target.
  if (::linkat(fromDir.Get(), fromLeaf.c_str(), toDir.Get(), toLeaf.c_str(), 0) == 0) return true;
  error = FileError::Last();
  exists = error.code == EEXIST;
  return false;
}

bool DestFolder::Replace(const std::string& from, const std::string& to, FileError& error) {
  std::string fromLeaf, toLeaf;
  Fd fromDir = impl_->Parent(from, fromLeaf, error);
  if (fromDir.Get() < 0) return false;
  Fd toDir = impl_->Parent(to, toLeaf, error);
  if (toDir.Get() < 0) return false;
  if (::renameat(fromDir.Get(), fromLeaf.c_str(), toDir.Get(), toLeaf.c_str()) == 0) return true;
  error = FileError::Last();
  return false;
}

void DestFolder::Remove(const std::string& rel) {
  FileError ignored;
  std::string leaf;
  Fd dir = impl_->Parent(rel, leaf, ignored);
  if (dir.Get() >= 0) ::unlinkat(dir.Get(), leaf.c_str(), 0);
}

bool DestFolder::SyncFolder(const std::string& rel, FileError& error) {
  Fd dir = impl_->OpenFolder(rel, false, error);
  if (dir.Get() < 0) return false;
  while (::fsync(dir.Get()) != 0) {
    if (errno == EINTR) continue;
    error = FileError::Last();
    return false;
  }
  return true;
}

std::vector<DestFolder::Entry> DestFolder::List(const std::string& rel) {
  std::vector<Entry> entries;
  FileError ignored;
  Fd dir = impl_->OpenFolder(rel, false, ignored);
  if (dir.Get() < 0) return entries;
  const int fd = dir.Get();
  DIR* stream = ::fdopendir(dir.Release());
  if (!stream) {
    ::close(fd);
    return entries;
  }
  while (dirent* e = ::readdir(stream)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    const bool folder = ::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    entries.push_back({name, folder});
  }
  ::closedir(stream);
  return entries;
}

}  // namespace tarnwick::archive
