#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cliutil/LocalFiles.h"
#include "cliutil/LocalPaths.h"

namespace tarnwick::cli {

namespace {

std::string FolderOf(const std::string& path) {
  std::size_t cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  return cut == 0 ? "/" : path.substr(0, cut);
}

// The umask cannot be read without setting it; set it straight back.
mode_t CurrentUmask() {
  const mode_t mask = ::umask(077);
  ::umask(mask);
  return mask;
}

}  // namespace

PathKind ExaminePath(const std::string& path, FileError& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    // A dangling symlink counts as missing too: the file at its end is made.
    if (errno == ENOENT) return PathKind::Missing;
    error = FileError::Last();
    return PathKind::Unknown;
  }
  if (S_ISDIR(st.st_mode)) return PathKind::Folder;
  // A procfs or sysfs file takes what is written to it as it is, and its
  // folder takes no temporary file: written in place, as a device is.
  return S_ISREG(st.st_mode) && !OnMadeUpFileSystem(path) ? PathKind::Regular : PathKind::Other;
}

std::string FollowLinks(const std::string& path) {
  std::string at = path;
  for (int hop = 0; hop < 40; ++hop) {  // the system's own limit on link chains
    struct stat st {};
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    std::vector<char> buffer(4096);
    ssize_t n = ::readlink(at.c_str(), buffer.data(), buffer.size() - 1);
    if (n <= 0) return at;
    std::string link(buffer.data(), static_cast<std::size_t>(n));
    at = link[0] == '/' ? link : FolderOf(at) + "/" + link;
  }
  return at;
}

std::optional<std::string> WriteRefusal(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return FileError::Last().text;
  if ((st.st_mode & S_IWUSR) == 0) return std::string("it is read-only (its owner has no write permission)");
  if (::access(path.c_str(), W_OK) != 0) return FileError::Last().text;
  return std::nullopt;
}

namespace {

// Gives our file every extended attribute of the target (its ACL is
// system.posix_acl_access); false when one cannot be kept.
bool CopyAttributes(const std::string& target, int fd) {
  ssize_t size = ::listxattr(target.c_str(), nullptr, 0);
  if (size < 0) return errno == ENOTSUP;  // a file system without them: nothing to keep
  std::vector<char> names(static_cast<std::size_t>(size));
  size = ::listxattr(target.c_str(), names.data(), names.size());
  if (size < 0) return false;
  static const char kAcl[] = "system.posix_acl_access";
  bool hadAcl = false;
  for (std::size_t at = 0; at < static_cast<std::size_t>(size); at += std::strlen(names.data() + at) + 1) {
    const char* name = names.data() + at;
    hadAcl = hadAcl || std::strcmp(name, kAcl) == 0;
    const ssize_t length = ::getxattr(target.c_str(), name, nullptr, 0);
    if (length < 0) return false;
    std::vector<char> value(static_cast<std::size_t>(length));
    if (::getxattr(target.c_str(), name, value.data(), value.size()) != length) return false;
    if (::fsetxattr(fd, name, value.data(), value.size(), 0) != 0) return false;
  }
  // An ACL our new file took from the folder's default ACL, which the target
  // did not have, could let more people read it than could read the target.
  return hadAcl || ::fremovexattr(fd, kAcl) == 0 || errno == ENODATA || errno == ENOTSUP;
}

std::optional<PublishFailure> Failed(bool keepTemporary = false) {
  return PublishFailure{FileError::Last(), keepTemporary};
}

// Copies the finished, flushed temporary file into the target itself, so
// the target stays the same file: owner, group, mode, links, attributes.
std::optional<PublishFailure> CopyInPlace(const std::string& temporary, const std::string& target) {
  FileHandle from = FileHandle::OpenForReading(temporary);
  const std::optional<std::uint64_t> size = from.Valid() ? from.Size() : std::nullopt;
  if (!size) return Failed();
  FileHandle to = FileHandle::OpenForWriting(target);
  if (!to.Valid()) return Failed();
  const int fd = static_cast<int>(to.Native());
  // Room first, past the end and without moving it: a full disk found now
  // leaves the old content whole. Not every file system can reserve.
  if (*size > 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(*size)) != 0 &&
      errno != EOPNOTSUPP && errno != ENOSYS)
    return Failed();
  std::vector<char> buffer(256 * 1024);
  for (std::uint64_t at = 0; at < *size;) {
    const long long got = from.ReadAt(at, buffer.data(), buffer.size());
    if (got <= 0) {
      if (got == 0) errno = EIO;  // the temporary file is shorter than it was
      return Failed(true);
    }
    if (::lseek(fd, static_cast<off_t>(at), SEEK_SET) < 0 ||
        !to.WriteAll(buffer.data(), static_cast<std::size_t>(got)))
      return Failed(true);
    at += static_cast<std::uint64_t>(got);
  }
  if (::ftruncate(fd, static_cast<off_t>(*size)) != 0 || !to.Sync() || !to.Close()) return Failed(true);
  ::unlink(temporary.c_str());
  return std::nullopt;
}

}  // namespace

std::optional<PublishFailure> PublishTemporary(FileHandle& file, const std::string& temporary,
                                               const std::string& target) {
  const int fd = static_cast<int>(file.Native());
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  // A rename would make a new file of the target: only when that new file
  // can be the old one's equal.
  bool inPlace = false;
  if (exists) {
    inPlace = old.st_nlink > 1 || ::fchown(fd, old.st_uid, old.st_gid) != 0;
    // Its permissions, not its set-user-ID or set-group-ID bits: those were
    // granted to the old content, not to what a device sent.
    if (!inPlace && ::fchmod(fd, old.st_mode & 0777) != 0) return Failed();
    if (!inPlace) inPlace = !CopyAttributes(target, fd);
  } else if (::fchmod(fd, 0666 & ~CurrentUmask()) != 0) {
    return Failed();
  }
  // Flushed before anything touches the target: from here on the
  // temporary file holds the download safely whatever happens.
  if (!file.Sync()) return Failed();
  if (!file.Close()) return Failed();
  if (inPlace) return CopyInPlace(temporary, target);
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    // A bind-mounted file, another user's file in a sticky folder: only
    // found out now, and no reason to throw the download away.
    if (exists && (errno == EBUSY || errno == EPERM || errno == EACCES || errno == EXDEV))
      return CopyInPlace(temporary, target);
    return Failed();
  }
  // The rename lives in the folder: flush it too, so a crash right after
  // the run still finds the new file under its name. Not every file system
  // can flush a folder; the file itself is safe by then either way.
  int folder = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return std::nullopt;
}

bool ReplaceFileWith(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

void RemoveFileQuietly(const std::string& path) {
  if (!path.empty()) ::unlink(path.c_str());
}

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::vector<char> buffer(4096);
  if (!::getcwd(buffer.data(), buffer.size())) return path;
  std::string dir(buffer.data());
  if (path.compare(0, 2, "./") == 0) return dir + path.substr(1);
  return dir + "/" + path;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace tarnwick::cli
