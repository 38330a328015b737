// The reporter's files on Windows: the options block at the end of the
// executable, the log beside it and the settings file with the pending-mail
// flag. Failures to read or write them never raise: reads yield defaults.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crash/CrashOptions.h"

namespace tarnwick {

std::wstring ProgramPath();

// The log or settings file of a module, built from its wide path so that a
// folder name outside the system code page still leads to the right file.
std::wstring SideFile(const std::wstring& modulePath, const std::wstring& suffix,
                      const std::string& logFolder = {});

// The options block of a module's file (for a ".BPL" file, its side file
// ending in "cpu"), opened shared for reading. Nothing when absent.
std::optional<CrashOptions> LoadOptions(const std::wstring& modulePath);

// Where a file goes when its usual place cannot be written (a standard
// user with the program under Program Files): the same file name in the
// user's own folder %LOCALAPPDATA%\Tarnwick, which is created when `create`
// is set. Empty when the system names no such folder.
std::wstring UserFolderFile(const std::wstring& path, bool create);

// The crash log, open for one entry: at its usual place, or in the
// user's own folder when that place cannot be written.
class CrashLogFile {
 public:
  explicit CrashLogFile(const std::wstring& usualPath);
  ~CrashLogFile();
  CrashLogFile(const CrashLogFile&) = delete;
  CrashLogFile& operator=(const CrashLogFile&) = delete;

  bool IsOpen() const noexcept { return handle_ != nullptr; }
  const std::wstring& Path() const noexcept { return path_; }
  bool InUserFolder() const noexcept { return inUserFolder_; }

  // Applies the log rules and writes the entry. False when the entry was a
  // repeat and nothing was written. Earlier entries survive every failure:
  // a log that cannot be read is appended to, and a cleared or trimmed log
  // replaces the old file only once it is written whole.
  bool Append(const std::string& entry, const std::string& stackTable, const std::string& versionNumber,
              const CrashOptions& options);

 private:
  void Close() noexcept;
  bool AppendBytes(const std::string& bytes);
  // The old log from keepFrom to size, then the entry, as the new log.
  bool Replace(std::uint64_t keepFrom, std::uint64_t size, const std::string& entry);

  void* handle_ = nullptr;  // HANDLE, null when closed
  std::wstring path_;
  bool inUserFolder_ = false;
};

// The log that was written last of the usual one and its stand-in in
// the user's folder (the mail attaches it).
std::wstring NewestLogPath(const std::wstring& usualPath);

// Profile values that fall back to the user's folder: read from the copy
// there when one exists, written to the usual file first and to the
// user's copy when the usual one cannot be written. A bare file name
// stands for the Windows folder, as the profile functions take it.
int ReadProfileInt(const std::wstring& file, const wchar_t* section, const wchar_t* key, int fallback);
void WriteProfileValues(const std::wstring& file, const wchar_t* section,
                        const std::vector<std::pair<const wchar_t*, int>>& values);

// The pending-mail flag: [State] "Send errors" in the settings file.
int ReadPendingMailFlag();
void WritePendingMailFlag(int value);

}  // namespace tarnwick
