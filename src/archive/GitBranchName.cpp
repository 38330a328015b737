// --git-branch NAME, checked before anything is fetched: the same answer
// on every build.
#include "archive/GitArchive.h"

namespace tarnwick::archive {

bool GitArchive::ValidBranchName(const std::string& name) {
  if (name.empty() || name.size() > 200 || name.front() == '-' || name.front() == '/' || name.back() == '/' ||
      name.back() == '.')
    return false;
  if (name.find("..") != std::string::npos || name.find("//") != std::string::npos ||
      name.find("/.") != std::string::npos || name.front() == '.')
    return false;
  if (name.size() >= 5 && name.compare(name.size() - 5, 5, ".lock") == 0) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '_' || c == '.' || c == '/';
    if (!ok) return false;
  }
  return name != "HEAD";
}

std::string GitArchive::OptionFault(const std::string& option, const std::string& value) {
  if (option == "--git-branch" && !ValidBranchName(value)) return "--git-branch \"" + value + "\" is no branch name";
  if (option == "--git-push" && value.empty()) return "--git-push needs a remote (a bare repository's path or a URL)";
  return {};
}

}  // namespace tarnwick::archive
