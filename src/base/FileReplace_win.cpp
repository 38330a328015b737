// Windows parts of the replacing write: a move that replaces the target,
// written through so that the rename is on the disk when it returns.
#include <windows.h>

#include "base/FileReplace.h"
#include "base/TextCodec.h"

namespace tarnwick::file_replace_detail {

bool IsPathSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

bool MoveOver(const std::string& from, const std::string& to) {
  return ::MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void RemoveQuietly(const std::string& path) noexcept {
  try {
    ::DeleteFileW(Utf8ToWide(path).c_str());
  } catch (...) {
    // Out of memory for the wide form: the file stays, nothing else is lost.
  }
}

}  // namespace tarnwick::file_replace_detail
