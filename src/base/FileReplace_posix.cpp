// POSIX parts of the replacing write: rename(2) replaces the target in one
// step, once the new file has the old one's permissions and owner.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "base/FileReplace.h"

namespace tarnwick::file_replace_detail {

bool IsPathSeparator(char c) { return c == '/'; }

bool MoveOver(const std::string& from, const std::string& to) {
  struct stat old {};
  if (::stat(to.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    // A private file stays private. Only root can give a file away, and a
    // group is ours to set only when we belong to it; what cannot be kept
    // stays ours, which grants nobody more than the old permissions did.
    // The owner first: a change of owner clears the set-id bits.
    if (::chown(from.c_str(), old.st_uid, old.st_gid) != 0) {
      [[maybe_unused]] const int group = ::chown(from.c_str(), static_cast<uid_t>(-1), old.st_gid);
    }
    if (::chmod(from.c_str(), old.st_mode & 07777) != 0) return false;
  }
  return std::rename(from.c_str(), to.c_str()) == 0;
}

void RemoveQuietly(const std::string& path) noexcept { ::unlink(path.c_str()); }

}  // namespace tarnwick::file_replace_detail
