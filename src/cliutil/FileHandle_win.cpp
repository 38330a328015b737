#include <windows.h>

#include <utility>

#include "base/TextCodec.h"
#include "cliutil/Console.h"
#include "cliutil/FileHandle.h"

namespace tarnwick::cli {

namespace {
HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

FileError FileError::Last() {
  FileError e;
  const DWORD code = ::GetLastError();
  e.code = static_cast<int>(code);
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length > 0 && text) {
    std::wstring words(text, length);
    while (!words.empty() && (words.back() == L'\r' || words.back() == L'\n' || words.back() == L'.'))
      words.pop_back();
    e.text = WideToUtf8(words);
  } else {
    e.text = "system error " + std::to_string(code);
  }
  if (text) ::LocalFree(text);
  e.diskFull = code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL;
  // A stop request ended a wait (StopWaitingWhen).
  e.interrupted = code == ERROR_OPERATION_ABORTED;
  return e;
}

FileHandle FileHandle::CreateExclusive(const std::string& path) {
  HANDLE h = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return FileHandle(h == INVALID_HANDLE_VALUE ? kInvalid : reinterpret_cast<std::intptr_t>(h));
}

FileHandle FileHandle::OpenForReading(const std::string& path) {
  // Shared for writing too, as a POSIX open is: a file another program
  // still has open for writing (a log being written) can be sent, and a
  // change during a put is noticed and the put abandoned rather than the
  // writer failing or the open being refused.
  HANDLE h = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  return FileHandle(h == INVALID_HANDLE_VALUE ? kInvalid : reinterpret_cast<std::intptr_t>(h));
}

FileHandle FileHandle::CreatePrivate(const std::string& path) {
  // The folder's inherited access rules apply; no share mode keeps others
  // out while it is written.
  return CreateExclusive(path);
}

FileHandle FileHandle::OpenForWriting(const std::string& path) {
  HANDLE h = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return FileHandle(h == INVALID_HANDLE_VALUE ? kInvalid : reinterpret_cast<std::intptr_t>(h));
}

namespace {
std::intptr_t DuplicateStandard(DWORD which) {
  HANDLE process = ::GetCurrentProcess();
  HANDLE copy = nullptr;
  HANDLE original = ::GetStdHandle(which);
  if (original == nullptr || original == INVALID_HANDLE_VALUE ||
      !::DuplicateHandle(process, original, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return -1;
  return reinterpret_cast<std::intptr_t>(copy);
}
}  // namespace

// A stream the null device stands in for (closed at start) is no stream.
FileHandle FileHandle::StandardOutput() {
  if (StandardStreamWasClosed(1)) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FileHandle();
  }
  return FileHandle(DuplicateStandard(STD_OUTPUT_HANDLE));
}
FileHandle FileHandle::StandardInput() {
  if (StandardStreamWasClosed(0)) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FileHandle();
  }
  return FileHandle(DuplicateStandard(STD_INPUT_HANDLE));
}

std::size_t FileHandle::WritePrefix(const char* bytes, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    if (stop_ && stop_()) {
      ::SetLastError(ERROR_OPERATION_ABORTED);
      break;
    }
    DWORD chunk = length - done > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length - done);
    DWORD written = 0;
    if (!::WriteFile(AsHandle(handle_), bytes + done, chunk, &written, nullptr)) break;
    if (written == 0) {
      ::SetLastError(ERROR_WRITE_FAULT);
      break;
    }
    done += written;
  }
  return done;
}

bool FileHandle::WriteAll(const char* bytes, std::size_t length) {
  while (length > 0) {
    DWORD chunk = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!::WriteFile(AsHandle(handle_), bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    length -= written;
  }
  return true;
}

long long FileHandle::ReadAt(std::uint64_t offset, char* out, std::size_t length) const {
  std::size_t done = 0;
  while (done < length) {
    OVERLAPPED at{};
    const std::uint64_t position = offset + done;
    at.Offset = static_cast<DWORD>(position & 0xffffffffu);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD chunk = length - done > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length - done);
    DWORD read = 0;
    if (!::ReadFile(AsHandle(handle_), out + done, chunk, &read, &at)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (read == 0) break;
    done += read;
  }
  return static_cast<long long>(done);
}

long long FileHandle::Read(char* out, std::size_t length) {
  DWORD chunk = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
  // A pipe is read only once it holds bytes (or has ended), looking at the
  // stop check in between; a console or a file is read as it is.
  for (DWORD waiting = 0; stop_ && ::GetFileType(AsHandle(handle_)) == FILE_TYPE_PIPE;) {
    if (stop_()) {
      ::SetLastError(ERROR_OPERATION_ABORTED);
      return -1;
    }
    if (!::PeekNamedPipe(AsHandle(handle_), nullptr, 0, nullptr, &waiting, nullptr)) break;  // ReadFile tells
    if (waiting > 0) {
      chunk = waiting < chunk ? waiting : chunk;
      break;
    }
    ::Sleep(50);
  }
  DWORD read = 0;
  if (!::ReadFile(AsHandle(handle_), out, chunk, &read, nullptr)) {
    // The writing end of a pipe closed: that is the end of the file.
    return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  return static_cast<long long>(read);
}

std::optional<FileFacts> FileHandle::Facts() const {
  FileFacts facts;
  facts.regular = ::GetFileType(AsHandle(handle_)) == FILE_TYPE_DISK;
  BY_HANDLE_FILE_INFORMATION info{};
  if (facts.regular) {
    if (!::GetFileInformationByHandle(AsHandle(handle_), &info)) return std::nullopt;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) facts.regular = false;
    facts.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    facts.modified =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                  info.ftLastWriteTime.dwLowDateTime);
  }
  return facts;
}

bool FileHandle::Sync() { return ::FlushFileBuffers(AsHandle(handle_)) != 0; }

std::optional<std::uint64_t> FileHandle::Size() const {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(AsHandle(handle_), &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool FileHandle::Close() {
  if (!Valid()) return true;
  return ::CloseHandle(AsHandle(std::exchange(handle_, kInvalid))) != 0;
}

// Windows has no file systems that make their files up when read.
bool OnMadeUpFileSystem(const std::string&) { return false; }

}  // namespace tarnwick::cli
