// DEST on Windows: full paths checked component by component for reparse
// points (symbolic links, junctions), and every file opened with
// FILE_FLAG_OPEN_REPARSE_POINT so a link is opened as itself, never
// followed. The lock is LockFileEx on a byte far past the lock file's text,
// so the next run can still read who holds it.
#include <windows.h>

#include <filesystem>
#include <thread>

#include "archive/DestFolder.h"
#include "base/TextCodec.h"

namespace tarnwick::archive {

using cli::FileError;
using cli::FileHandle;

namespace {

constexpr DWORD kLockOffsetHigh = 1;  // 4 GiB: past any text we write

FileError Failure(DWORD code, std::string text) {
  FileError e;
  e.code = static_cast<int>(code);
  e.text = std::move(text);
  return e;
}

bool IsReparse(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

struct DestFolder::Impl {
  std::wstring root;
  FileHandle lock;

  std::wstring Full(const std::string& rel) const {
    std::wstring path = root;
    if (!rel.empty()) path += L"\\" + Utf8ToWide(rel);
    for (wchar_t& c : path)
      if (c == L'/') c = L'\\';
    return path;
  }

  // Every folder on the way to rel (rel itself too when whole) must be a
  // plain folder inside DEST.
  bool CheckWay(const std::string& rel, bool whole, FileError& error) const {
    std::size_t at = 0;
    for (;;) {
      const std::size_t slash = rel.find('/', at);
      if (slash == std::string::npos && !whole) return true;
      const std::string part = rel.substr(0, slash);
      const std::string leaf = rel.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
      if (leaf.empty() || leaf == "." || leaf == "..") {
        error = Failure(ERROR_INVALID_NAME, "\"" + leaf + "\" is not a plain name");
        return false;
      }
      const DWORD attributes = ::GetFileAttributesW(Full(part).c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = FileError::Last();
        return false;
      }
      if (IsReparse(attributes)) {
        error =
            Failure(ERROR_CANT_ACCESS_FILE, "it is a symbolic link (not followed inside the backup folder)");
        return false;
      }
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = Failure(ERROR_DIRECTORY, "it is not a folder");
        return false;
      }
      if (slash == std::string::npos) return true;
      at = slash + 1;
    }
  }
};

DestFolder::DestFolder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
DestFolder::~DestFolder() = default;

std::unique_ptr<DestFolder> DestFolder::Open(const std::string& dest, const std::string& runInfo,
                                             DestOpening& opening, const LockWait& wait) {
  auto impl = std::make_unique<Impl>();
  impl->root = Utf8ToWide(dest);
  // Missing parents are made as mkdir -p makes them.
  if (::GetFileAttributesW(impl->root.c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(impl->root).parent_path(), ec);
  }
  if (::CreateDirectoryW(impl->root.c_str(), nullptr))
    opening.created = true;
  else if (::GetLastError() != ERROR_ALREADY_EXISTS)
    return opening.error = FileErrorText("cannot create the folder " + dest, FileError::Last()), nullptr;
  const std::wstring lockPath = impl->Full(kLockName);
  if (IsReparse(::GetFileAttributesW(lockPath.c_str())))
    return opening.error = dest + "\\" + kLockName + " is a symbolic link; remove it", nullptr;
  HANDLE h =
      ::CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return opening.error = FileErrorText("cannot open the lock file in " + dest, FileError::Last()), nullptr;
  impl->lock = FileHandle::Adopt(reinterpret_cast<std::intptr_t>(h));
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  LockWaiter waiter(wait);
  while (!::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    if (waiter.KeepWaiting(impl->lock)) continue;
    opening.busy = true;
    opening.error = waiter.Stopped() ? LockWaitStoppedText(dest, impl->lock) : LockHeldText(dest, impl->lock);
    return nullptr;
  }
  // Ours now: the text says who holds it.
  ::SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  ::SetEndOfFile(h);
  if (!impl->lock.WriteAll(runInfo.data(), runInfo.size()))
    return opening.error = FileErrorText("cannot write the lock file in " + dest, FileError::Last()), nullptr;
  return std::unique_ptr<DestFolder>(new DestFolder(std::move(impl)));
}

FileHandle DestFolder::CreateExclusive(const std::string& rel, FileError& error) {
  if (!impl_->CheckWay(rel, false, error)) return FileHandle();
  HANDLE h = ::CreateFileW(impl_->Full(rel).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = FileError::Last();
    return FileHandle();
  }
  return FileHandle::Adopt(reinterpret_cast<std::intptr_t>(h));
}

FileHandle DestFolder::OpenExisting(const std::string& rel, bool& missing, FileError& error) {
  missing = false;
  if (!impl_->CheckWay(rel, false, error)) {
    missing = error.code == ERROR_FILE_NOT_FOUND || error.code == ERROR_PATH_NOT_FOUND;
    return FileHandle();
  }
  HANDLE h =
      ::CreateFileW(impl_->Full(rel).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = FileError::Last();
    missing = error.code == ERROR_FILE_NOT_FOUND || error.code == ERROR_PATH_NOT_FOUND;
    return FileHandle();
  }
  FileHandle file = FileHandle::Adopt(reinterpret_cast<std::intptr_t>(h));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h, &info) || IsReparse(info.dwFileAttributes)) {
    error = Failure(ERROR_CANT_ACCESS_FILE, "it is a symbolic link (not followed inside the backup folder)");
    return FileHandle();
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    error = Failure(ERROR_DIRECTORY, "it is not a regular file");
    return FileHandle();
  }
  return file;
}

bool DestFolder::MakeFolders(const std::string& rel, FileError& error) {
  std::size_t at = 0;
  for (;;) {
    const std::size_t slash = rel.find('/', at);
    const std::string part = rel.substr(0, slash);
    if (!impl_->CheckWay(part, false, error)) return false;
    if (!::CreateDirectoryW(impl_->Full(part).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      error = FileError::Last();
      return false;
    }
    if (slash == std::string::npos) return impl_->CheckWay(rel, true, error);
    at = slash + 1;
  }
}

bool DestFolder::Link(const std::string& from, const std::string& to, bool& exists, FileError& error) {
  exists = false;
  if (!impl_->CheckWay(from, false, error) || !impl_->CheckWay(to, false, error)) return false;
  if (IsReparse(::GetFileAttributesW(impl_->Full(from).c_str()))) {
    error = Failure(ERROR_CANT_ACCESS_FILE, "it is a symbolic link (not followed inside the backup folder)");
    return false;
  }
  if (::CreateHardLinkW(impl_->Full(to).c_str(), impl_->Full(from).c_str(), nullptr)) return true;
  error = FileError::Last();
  exists = error.code == ERROR_ALREADY_EXISTS || error.code == ERROR_FILE_EXISTS;
  return false;
}

bool DestFolder::Replace(const std::string& from, const std::string& to, FileError& error) {
  if (!impl_->CheckWay(from, false, error) || !impl_->CheckWay(to, false, error)) return false;
  if (::MoveFileExW(impl_->Full(from).c_str(), impl_->Full(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  error = FileError::Last();
  return false;
}

void DestFolder::Remove(const std::string& rel) {
  FileError ignored;
  if (impl_->CheckWay(rel, false, ignored)) ::DeleteFileW(impl_->Full(rel).c_str());
}

// Renames are written through (MOVEFILE_WRITE_THROUGH); Windows has no
// flush for a folder's entries that an unprivileged process may call.
bool DestFolder::SyncFolder(const std::string&, FileError&) { return true; }

std::vector<DestFolder::Entry> DestFolder::List(const std::string& rel) {
  std::vector<Entry> entries;
  FileError ignored;
  if (!rel.empty() && !impl_->CheckWay(rel, true, ignored)) return entries;
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW((impl_->Full(rel) + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    const std::string name = WideToUtf8(found.cFileName);
    if (name == "." || name == "..") continue;
    const bool folder =
        (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsReparse(found.dwFileAttributes);
    entries.push_back({name, folder});
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return entries;
}

}  // namespace tarnwick::archive
