#include <windows.h>

#include <algorithm>
#include <vector>

#include "crash/AnsiText.h"
#include "crash/CrashFiles.h"
#include "crash/CrashLog.h"

namespace tarnwick {

namespace {

struct FileHandle {
  HANDLE h;
  explicit FileHandle(HANDLE handle) : h(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  bool Valid() const { return h != INVALID_HANDLE_VALUE; }
};

bool ReadAt(HANDLE file, std::int64_t offset, void* into, DWORD size) {
  LARGE_INTEGER at;
  at.QuadPart = offset;
  DWORD read = 0;
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, into, size, &read, nullptr) &&
         read == size;
}

std::wstring SettingsPath() { return SideFile(ProgramPath(), L"crash.ini"); }

bool EndsWithBpl(const std::wstring& path) {
  if (path.size() < 4) return false;
  std::wstring tail = path.substr(path.size() - 4);
  for (wchar_t& c : tail) c = static_cast<wchar_t>(towupper(c));
  return tail == L".BPL";
}

}  // namespace

std::wstring ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring SideFile(const std::wstring& modulePath, const std::wstring& suffix,
                      const std::string& logFolder) {
  std::wstring path = modulePath.substr(0, modulePath.size() >= 3 ? modulePath.size() - 3 : 0) + suffix;
  if (logFolder.empty()) return path;
  const std::wstring folder = AnsiToWide(logFolder);
  const std::size_t folderEnd = folder.find_last_of(L"\\/");
  const std::size_t nameStart = path.find_last_of(L"\\/");
  return (folderEnd == std::wstring::npos ? std::wstring() : folder.substr(0, folderEnd + 1)) +
         (nameStart == std::wstring::npos ? path : path.substr(nameStart + 1));
}

std::optional<CrashOptions> LoadOptions(const std::wstring& modulePath) {
  const std::wstring path =
      EndsWithBpl(modulePath) ? modulePath.substr(0, modulePath.size() - 3) + L"cpu" : modulePath;
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (!file.Valid() || !GetFileSizeEx(file.h, &size) || size.QuadPart < 8) return std::nullopt;
  std::uint8_t trailer[8];
  if (!ReadAt(file.h, size.QuadPart - 8, trailer, 8)) return std::nullopt;
  const std::uint32_t blockSize =
      trailer[0] | (trailer[1] << 8) | (trailer[2] << 16) | (static_cast<std::uint32_t>(trailer[3]) << 24);
  const std::uint32_t magic =
      trailer[4] | (trailer[5] << 8) | (trailer[6] << 16) | (static_cast<std::uint32_t>(trailer[7]) << 24);
  // Checked before anything is allocated for the block: a size field larger
  // than the file is a damaged or foreign tail, not a reason to read.
  if (magic != kOptionsMagic || blockSize > size.QuadPart - 8) return std::nullopt;
  std::vector<std::uint8_t> tail(static_cast<std::size_t>(blockSize) + 8);
  if (!ReadAt(file.h, size.QuadPart - static_cast<std::int64_t>(tail.size()), tail.data(),
              static_cast<DWORD>(tail.size())))
    return std::nullopt;
  return ReadOptionsBlock(tail.data(), tail.size());
}

std::wstring UserFolderFile(const std::wstring& path, bool create) {
  wchar_t base[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::wstring folder(base, n);
  if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  folder += L"Tarnwick";
  if (create) CreateDirectoryW(folder.c_str(), nullptr);  // fails harmlessly when it exists
  const std::size_t slash = path.find_last_of(L"\\/");
  return folder + L'\\' + (slash == std::wstring::npos ? path : path.substr(slash + 1));
}

namespace {

HANDLE OpenForAppending(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteWhole(HANDLE file, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

bool Exists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

CrashLogFile::CrashLogFile(const std::wstring& usualPath) : path_(usualPath) {
  HANDLE file = OpenForAppending(usualPath);
  if (file == INVALID_HANDLE_VALUE) {
    const std::wstring own = UserFolderFile(usualPath, true);
    if (!own.empty()) file = OpenForAppending(own);
    if (file != INVALID_HANDLE_VALUE) {
      path_ = own;
      inUserFolder_ = true;
    }
  }
  if (file != INVALID_HANDLE_VALUE) handle_ = file;
}

CrashLogFile::~CrashLogFile() { Close(); }

void CrashLogFile::Close() noexcept {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

bool CrashLogFile::AppendBytes(const std::string& bytes) {
  if (handle_ == nullptr) {
    HANDLE file = OpenForAppending(path_);
    if (file == INVALID_HANDLE_VALUE) return false;
    handle_ = file;
  }
  LARGE_INTEGER zero{};
  return SetFilePointerEx(static_cast<HANDLE>(handle_), zero, nullptr, FILE_END) &&
         WriteWhole(static_cast<HANDLE>(handle_), bytes);
}

bool CrashLogFile::Replace(std::uint64_t keepFrom, std::uint64_t size, const std::string& entry) {
  // Written beside the log and moved over it in one step: a full disk or a
  // short write leaves the old log as it was. The kept part is copied in
  // pieces, so a large log costs no more memory than a small one.
  const std::wstring fresh = path_ + L".new";
  HANDLE file =
      CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool written = true;
  std::string piece(kLogPieceSize, '\0');
  for (std::uint64_t at = keepFrom; written && at < size;) {
    const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(size - at, piece.size()));
    piece.resize(want);
    written = ReadAt(static_cast<HANDLE>(handle_), static_cast<std::int64_t>(at), piece.data(), want) &&
              WriteWhole(file, piece);
    at += want;
  }
  written = written && WriteWhole(file, entry) && FlushFileBuffers(file);
  CloseHandle(file);
  if (written) {
    Close();  // the log cannot be replaced while it is open here
    if (MoveFileExW(fresh.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
  }
  DeleteFileW(fresh.c_str());
  return false;
}

bool CrashLogFile::Append(const std::string& entry, const std::string& stackTable,
                          const std::string& versionNumber, const CrashOptions& options) {
  if (handle_ == nullptr) return true;  // nothing could be recorded, so nothing was a repeat
  const HANDLE file = static_cast<HANDLE>(handle_);
  LARGE_INTEGER size;
  LogEdit edit{LogWrite::Kind::Append, 0};
  if (GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
      static_cast<unsigned long long>(size.QuadPart) < kLogReadLimit) {
    const LogReadAt read = [file](std::uint64_t at, char* into,
                                  std::size_t want) -> std::optional<std::size_t> {
      LARGE_INTEGER to;
      to.QuadPart = static_cast<LONGLONG>(at);
      DWORD got = 0;
      if (!SetFilePointerEx(file, to, nullptr, FILE_BEGIN) ||
          !ReadFile(file, into, static_cast<DWORD>(want), &got, nullptr))
        return std::nullopt;
      return got;
    };
    edit = PlanLogEdit(static_cast<std::uint64_t>(size.QuadPart), read, stackTable, versionNumber, options);
  }
  switch (edit.kind) {
    case LogWrite::Kind::Nothing:
      return false;
    case LogWrite::Kind::Append:
      AppendBytes(entry);
      return true;
    case LogWrite::Kind::Replace:
      // When the log cannot be replaced, the entry is still kept.
      if (!Replace(edit.keepFrom, static_cast<std::uint64_t>(size.QuadPart), entry)) AppendBytes(entry);
      return true;
  }
  return true;
}

std::wstring NewestLogPath(const std::wstring& usualPath) {
  const std::wstring own = UserFolderFile(usualPath, false);
  WIN32_FILE_ATTRIBUTE_DATA usual{}, mine{};
  const bool hasUsual = GetFileAttributesExW(usualPath.c_str(), GetFileExInfoStandard, &usual);
  const bool hasOwn = !own.empty() && GetFileAttributesExW(own.c_str(), GetFileExInfoStandard, &mine);
  if (hasOwn && (!hasUsual || CompareFileTime(&mine.ftLastWriteTime, &usual.ftLastWriteTime) > 0)) return own;
  return usualPath;
}

int ReadProfileInt(const std::wstring& file, const wchar_t* section, const wchar_t* key, int fallback) {
  const std::wstring own = UserFolderFile(file, false);
  const std::wstring& from = !own.empty() && Exists(own) ? own : file;
  return static_cast<int>(GetPrivateProfileIntW(section, key, fallback, from.c_str()));
}

void WriteProfileValues(const std::wstring& file, const wchar_t* section,
                        const std::vector<std::pair<const wchar_t*, int>>& values) {
  const auto writeAll = [&](const std::wstring& to) {
    bool all = true;
    for (const auto& [key, value] : values)
      all = WritePrivateProfileStringW(section, key, std::to_wstring(value).c_str(), to.c_str()) && all;
    return all;
  };
  const std::wstring own = UserFolderFile(file, false);
  if (writeAll(file)) {
    // The usual place works again: a stale copy must not hide it.
    if (!own.empty()) DeleteFileW(own.c_str());
    return;
  }
  const std::wstring created = UserFolderFile(file, true);
  if (!created.empty()) writeAll(created);
}

int ReadPendingMailFlag() { return ReadProfileInt(SettingsPath(), L"State", L"Send errors", 0); }

void WritePendingMailFlag(int value) {
  WriteProfileValues(SettingsPath(), L"State", {{L"Send errors", value}});
}

}  // namespace tarnwick
