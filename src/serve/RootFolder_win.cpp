// Folders beneath ROOT on Windows: each component opened without following
// a reparse point (symbolic link, junction, mount point) and held open, not
// sharing deletion, so it cannot be swapped for a link while it is used.
#include <windows.h>

#include <cstring>

#include "base/TextCodec.h"
#include "serve/RequestName.h"
#include "serve/RootFolder.h"
#include "serve/RootFolderDetail.h"

namespace tarnwick::serve {

using cli::FileError;
using cli::FileHandle;

namespace {

HANDLE AsHandle(const FileHandle& h) { return reinterpret_cast<HANDLE>(h.Native()); }

FileHandle Adopt(HANDLE h) {
  return FileHandle::Adopt(h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(h));
}

Refusal FromLastError(const char* what) {
  const DWORD code = ::GetLastError();
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
      return Refuse(kErrorNotFound, std::string(what) + " not found");
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return Refuse(kErrorAccess, std::string(what) + ": access denied");
    default:
      return Refuse(kErrorNotDefined, std::string(what) + ": system error " + std::to_string(code));
  }
}

bool Facts(HANDLE h, BY_HANDLE_FILE_INFORMATION& info) { return ::GetFileInformationByHandle(h, &info) != 0; }

}  // namespace

struct RootFolder::Impl {
  std::wstring path;
  FileHandle dir;
  std::shared_ptr<const Impl> parent;  // keeps every folder above pinned too
};

RootFolder::RootFolder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RootFolder::~RootFolder() = default;

bool NativeNameRules() { return true; }

void root_folder_detail::UseOpenat2(bool) {}

namespace {

FileHandle OpenFolder(const std::wstring& path, Refusal& refusal) {
  FileHandle dir =
      Adopt(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!dir.Valid()) {
    refusal = FromLastError("folder");
    return dir;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!Facts(AsHandle(dir), info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    refusal = Refuse(kErrorAccess, "folder is a link or junction");
    return FileHandle();
  }
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    refusal = Refuse(kErrorNotFound, "folder not found");
    return FileHandle();
  }
  return dir;
}

}  // namespace

std::unique_ptr<RootFolder> RootFolder::OpenRoot(const std::string& path, std::string& error) {
  auto impl = std::make_unique<Impl>();
  impl->path = Utf8ToWide(path);
  while (!impl->path.empty() && (impl->path.back() == L'\\' || impl->path.back() == L'/'))
    impl->path.pop_back();
  // ROOT itself may be reached through a link: the user named it.
  impl->dir =
      Adopt(::CreateFileW(impl->path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!impl->dir.Valid()) {
    error = path + ": " + FileError::Last().text;
    return nullptr;
  }
  return std::make_unique<RootFolder>(std::move(impl));
}

std::unique_ptr<RootFolder> RootFolder::Descend(const std::vector<std::string>& folders,
                                                Refusal& refusal) const {
  std::shared_ptr<const Impl> current(impl_.get(), [](const Impl*) {});
  std::wstring path = impl_->path;
  std::shared_ptr<Impl> made;
  for (const std::string& part : folders) {
    path += L"\\" + Utf8ToWide(part);
    FileHandle dir = OpenFolder(path, refusal);
    if (!dir.Valid()) return nullptr;
    made = std::make_shared<Impl>();
    made->path = path;
    made->dir = std::move(dir);
    made->parent = current;
    current = made;
  }
  auto impl = std::make_unique<Impl>();
  impl->path = path;
  impl->parent = current;
  return std::make_unique<RootFolder>(std::move(impl));
}

OpenedFile RootFolder::OpenRegular(const std::string& name) const {
  OpenedFile out;
  const std::wstring path = impl_->path + L"\\" + Utf8ToWide(name);
  // Sharing deletion lets the file be replaced while it is served; this
  // handle keeps reading the old bytes.
  out.file =
      Adopt(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!out.file.Valid()) {
    out.refusal = FromLastError("file");
    return out;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(AsHandle(out.file)) != FILE_TYPE_DISK || !Facts(AsHandle(out.file), info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    out.file = FileHandle();
    out.refusal = Refuse(kErrorAccess, "not a regular file (link, folder or device)");
    return out;
  }
  out.key = FileKey{info.dwVolumeSerialNumber,
                    (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  out.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return out;
}

EntryKind RootFolder::Look(const std::string& name) const {
  const DWORD attributes = ::GetFileAttributesW((impl_->path + L"\\" + Utf8ToWide(name)).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = ::GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? EntryKind::None : EntryKind::Other;
  }
  return attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)
             ? EntryKind::Other
             : EntryKind::Regular;
}

FileHandle RootFolder::CreatePrivate(const std::string& name, FileError& error) const {
  FileHandle file = Adopt(::CreateFileW((impl_->path + L"\\" + Utf8ToWide(name)).c_str(),
                                        GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.Valid()) error = FileError::Last();
  return file;
}

// A new file takes its folder's inherited permissions, as every file Windows
// creates there does; a replaced one is renamed over, as the system allows.
void RootFolder::SetPublishedMode(FileHandle&, const std::string&) const {}

bool RootFolder::Publish(const std::string& temp, const std::string& name, bool replace, bool& exists,
                         FileError& error) const {
  exists = false;
  const std::wstring from = impl_->path + L"\\" + Utf8ToWide(temp),
                     to = impl_->path + L"\\" + Utf8ToWide(name);
  // Over an existing file ReplaceFileW keeps its owner, security and
  // attributes, as a replaced file of ours always does.
  if (replace &&
      ::ReplaceFileW(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
    return true;
  const DWORD replaceCode = replace ? ::GetLastError() : ERROR_FILE_NOT_FOUND;
  // No file to replace (or it is gone, its successor unable to take the
  // name): a move written through, failing on an existing name unless asked.
  const bool moveAllowed =
      replaceCode == ERROR_FILE_NOT_FOUND || replaceCode == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
  if (moveAllowed && ::MoveFileExW(from.c_str(), to.c_str(),
                                   MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0)))
    return true;
  const DWORD code = moveAllowed ? ::GetLastError() : replaceCode;
  ::SetLastError(code);
  exists = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
  error = FileError::Last();
  return false;
}

void RootFolder::Remove(const std::string& name) const noexcept {
  ::DeleteFileW((impl_->path + L"\\" + Utf8ToWide(name)).c_str());
}

// MOVEFILE_WRITE_THROUGH has already put the rename on the disk.
bool RootFolder::Sync(FileError&) const { return true; }

}  // namespace tarnwick::serve
