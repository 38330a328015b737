// Windows parts of the replacing write: ReplaceFileW over an existing
// target, so that it keeps its attributes; otherwise a move written through,
// so that the rename is on the disk when it returns.
#include <windows.h>

#include "base/FileReplace.h"
#include "base/TextCodec.h"

namespace tarnwick::file_replace_detail {

bool IsPathSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

bool MoveOver(const std::string& from, const std::string& to) {
  const std::wstring source = Utf8ToWide(from), target = Utf8ToWide(to);
  const auto move = [&] {
    return ::MoveFileExW(source.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  };
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return move();
  // The replace keeps the old file's security, streams and creation time;
  // its attributes are given to the new file first as well, since not every
  // implementation of the replace carries them over. A read-only target is
  // refused, as a move over it would be.
  ::SetFileAttributesW(source.c_str(),
                       attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
  if (::ReplaceFileW(target.c_str(), source.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                     nullptr))
    return true;
  // The old file is gone but the new one could not take its name: the move
  // is the last chance, since the new file is all that is left.
  return ::GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT && move();
}

void RemoveQuietly(const std::string& path) noexcept {
  try {
    ::DeleteFileW(Utf8ToWide(path).c_str());
  } catch (...) {
    // Out of memory for the wide form: the file stays, nothing else is lost.
  }
}

}  // namespace tarnwick::file_replace_detail
