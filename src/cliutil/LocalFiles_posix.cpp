#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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
  return S_ISREG(st.st_mode) ? PathKind::Regular : PathKind::Other;
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

std::optional<FileError> PublishTemporary(FileHandle& file, const std::string& temporary,
                                          const std::string& target) {
  const int fd = static_cast<int>(file.Native());
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    // Its permissions, not its set-user-ID or set-group-ID bits: those were
    // granted to the old content, not to what a device sent.
    mode_t mode = old.st_mode & 0777;
    // Another user's file, or a group we are not in: the copy cannot keep
    // its owner, so nobody but us may read it rather than more people than
    // could read the old one.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) mode &= 0700;
    if (::fchmod(fd, mode) != 0) return FileError::Last();
  } else if (::fchmod(fd, 0666 & ~CurrentUmask()) != 0) {
    return FileError::Last();
  }
  if (!file.Sync()) return FileError::Last();
  if (!file.Close()) return FileError::Last();
  if (::rename(temporary.c_str(), target.c_str()) != 0) return FileError::Last();
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
