#include <windows.h>

#include <utility>

#include "base/TextCodec.h"
#include "cli/FileHandle.h"

namespace tarnwick::cli {

namespace {
HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

FileHandle::~FileHandle() { Close(); }

FileHandle::FileHandle(FileHandle&& other) noexcept : handle_(std::exchange(other.handle_, kInvalid)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kInvalid);
  }
  return *this;
}

FileHandle FileHandle::CreateExclusive(const std::string& path) {
  HANDLE h = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return FileHandle(h == INVALID_HANDLE_VALUE ? kInvalid : reinterpret_cast<std::intptr_t>(h));
}

FileHandle FileHandle::OpenForReading(const std::string& path) {
  HANDLE h = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  return FileHandle(h == INVALID_HANDLE_VALUE ? kInvalid : reinterpret_cast<std::intptr_t>(h));
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

std::optional<std::uint64_t> FileHandle::Size() const {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(AsHandle(handle_), &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool FileHandle::Close() {
  if (!Valid()) return true;
  return ::CloseHandle(AsHandle(std::exchange(handle_, kInvalid))) != 0;
}

}  // namespace tarnwick::cli
