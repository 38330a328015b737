#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "cli/LocalFile.h"

namespace tarnwick::cli {

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
