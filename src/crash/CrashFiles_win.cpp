#include <windows.h>

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

bool AppendLogEntry(const std::wstring& logPath, const std::string& entry, const std::string& stackTable,
                    const std::string& versionNumber, const CrashOptions& options) {
  FileHandle file(CreateFileW(logPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  if (!file.Valid()) return true;  // nothing could be recorded, so nothing was a repeat
  LARGE_INTEGER size;
  std::string content;
  if (GetFileSizeEx(file.h, &size) && size.QuadPart > 0 && size.QuadPart < 0x7FFFFFFF) {
    content.resize(static_cast<std::size_t>(size.QuadPart));
    if (!ReadAt(file.h, 0, content.data(), static_cast<DWORD>(content.size()))) content.clear();
  }
  const std::size_t before = content.size();
  LogUpdate update = UpdateLog(std::move(content), entry, stackTable, versionNumber, options);
  if (update.duplicate) return false;
  // Appending needs only the new bytes; a cleared or trimmed log is rewritten.
  const bool appendOnly = update.content.size() == before + entry.size();
  LARGE_INTEGER at;
  at.QuadPart = appendOnly ? static_cast<LONGLONG>(before) : 0;
  const std::string& bytes = update.content;
  const std::size_t from = appendOnly ? before : 0;
  DWORD written = 0;
  if (SetFilePointerEx(file.h, at, nullptr, FILE_BEGIN)) {
    WriteFile(file.h, bytes.data() + from, static_cast<DWORD>(bytes.size() - from), &written, nullptr);
    SetEndOfFile(file.h);
  }
  return true;
}

int ReadPendingMailFlag() {
  wchar_t value[32] = {};
  GetPrivateProfileStringW(L"State", L"Send errors", L"0", value, 32, SettingsPath().c_str());
  return _wtoi(value);
}

void WritePendingMailFlag(int value) {
  WritePrivateProfileStringW(L"State", L"Send errors", std::to_wstring(value).c_str(),
                             SettingsPath().c_str());
}

}  // namespace tarnwick
