#include <windows.h>

#include "base/TextCodec.h"
#include "cliutil/LocalFiles.h"
#include "cliutil/LocalPaths.h"

namespace tarnwick::cli {

PathKind ExaminePath(const std::string& path, FileError& error) {
  // Opened without access rights: enough to ask what it is, and it works
  // for devices (NUL, CON) and pipes, which have no attributes.
  HANDLE h =
      ::CreateFileW(Utf8ToWide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    // A missing folder on the way is reported when the file is created.
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return PathKind::Missing;
    error = FileError::Last();
    return PathKind::Unknown;
  }
  PathKind kind = PathKind::Other;
  if (::GetFileType(h) == FILE_TYPE_DISK) {
    BY_HANDLE_FILE_INFORMATION info{};
    kind = ::GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
               ? PathKind::Folder
               : PathKind::Regular;
  }
  ::CloseHandle(h);
  return kind;
}

// ReplaceFileW below keeps the target's own attributes; links are left to
// the system.
std::string FollowLinks(const std::string& path) { return path; }

std::optional<std::string> WriteRefusal(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Utf8ToWide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FileError::Last().text;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    return std::string("it is read-only (the read-only attribute is set)");
  return std::nullopt;
}

std::optional<PublishFailure> PublishTemporary(FileHandle& file, const std::string& temporary,
                                               const std::string& target) {
  if (!file.Sync()) return PublishFailure{FileError::Last()};
  if (!file.Close()) return PublishFailure{FileError::Last()};
  const std::wstring from = Utf8ToWide(temporary), to = Utf8ToWide(target);
  // An existing target keeps its attributes and access rules.
  if (::GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES) {
    if (::ReplaceFileW(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
      return std::nullopt;
    return PublishFailure{FileError::Last()};
  }
  if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH))
    return PublishFailure{FileError::Last()};
  return std::nullopt;
}

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
