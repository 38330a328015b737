#include <windows.h>

#include "base/TextCodec.h"
#include "cli/LocalFile.h"

namespace tarnwick::cli {

bool ReplaceFileWith(const std::string& from, const std::string& to) {
  return ::MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void RemoveFileQuietly(const std::string& path) {
  if (!path.empty()) ::DeleteFileW(Utf8ToWide(path).c_str());
}

std::string AbsolutePath(const std::string& path) {
  std::wstring wide = Utf8ToWide(path);
  DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  n = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  full.resize(n);
  return WideToUtf8(full);
}

bool FileExists(const std::string& path) {
  return ::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace tarnwick::cli
