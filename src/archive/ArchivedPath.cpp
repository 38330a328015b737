#include "archive/DestFolder.h"
#include "archive/GitArchive.h"

namespace tarnwick::archive {

bool ArchivedPath(const std::string& rel) {
  const std::size_t slash = rel.rfind('/');
  const std::string leaf = slash == std::string::npos ? rel : rel.substr(slash + 1);
  if (leaf.empty() || leaf.rfind(kTempPrefix, 0) == 0 || leaf == kLockName) return false;
  if (rel.rfind("history/", 0) == 0) return true;
  return slash == std::string::npos && leaf.front() != '.' && leaf.size() > 4 &&
         leaf.compare(leaf.size() - 4, 4, ".cfg") == 0;
}

}  // namespace tarnwick::archive
