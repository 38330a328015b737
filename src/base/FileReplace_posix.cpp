// POSIX parts of the replacing write: rename(2) replaces the target in one
// step.
#include <unistd.h>

#include <cstdio>

#include "base/FileReplace.h"

namespace tarnwick::file_replace_detail {

bool IsPathSeparator(char c) { return c == '/'; }

bool MoveOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

void RemoveQuietly(const std::string& path) noexcept { ::unlink(path.c_str()); }

}  // namespace tarnwick::file_replace_detail
