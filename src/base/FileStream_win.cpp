// Windows back end of TFileStream: CreateFileW on the UTF-16 form of the
// path. Reading shares read access only (others cannot write meanwhile);
// creating shares nothing, as the file is incomplete until closed.
#include <windows.h>

#include "base/FileStream.h"
#include "base/TextCodec.h"

namespace tarnwick {

namespace {
constexpr std::intptr_t kClosed = -1;  // INVALID_HANDLE_VALUE
HANDLE H(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

TFileStream::TFileStream(const std::string& path, FileMode mode) : path_(path), handle_(kClosed) {
  std::wstring wide = Utf8ToWide(path);
  HANDLE h;
  if (mode == FileMode::OpenRead) {
    h = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw EFOpenError(path);
  } else {
    DWORD disposition = mode == FileMode::CreateNew   ? CREATE_NEW
                        : mode == FileMode::OpenWrite ? OPEN_EXISTING
                                                      : CREATE_ALWAYS;
    h = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw EFCreateError(path);
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
}

TFileStream::~TFileStream() {
  if (handle_ != kClosed) ::CloseHandle(H(handle_));
}

void TFileStream::Flush() {
  if (handle_ == kClosed || !::FlushFileBuffers(H(handle_))) throw EWriteError();
}

void TFileStream::SetSize(std::int64_t size) {
  const std::int64_t position = Seek(0, SeekOrigin::Current);
  LARGE_INTEGER end;
  end.QuadPart = size;
  const bool done = ::SetFilePointerEx(H(handle_), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(H(handle_));
  Seek(position, SeekOrigin::Beginning);
  if (!done) throw EWriteError();
}

void TFileStream::Reserve(std::int64_t size) {
  // Growing a file allocates its clusters at once, so a full disk shows
  // here rather than part way through the writes.
  const std::int64_t before = Size();
  if (size <= before) return;
  try {
    SetSize(size);
  } catch (const EWriteError&) {
    LARGE_INTEGER end;
    end.QuadPart = before;
    if (::SetFilePointerEx(H(handle_), end, nullptr, FILE_BEGIN)) ::SetEndOfFile(H(handle_));
    throw;
  }
}

void TFileStream::Close() {
  if (handle_ == kClosed) return;
  BOOL ok = ::CloseHandle(H(handle_));
  handle_ = kClosed;
  if (!ok) throw EWriteError();
}

std::int32_t TFileStream::Read(void* buffer, std::int32_t count) {
  std::int32_t done = 0;
  while (handle_ != kClosed && done < count) {
    DWORD n = 0;
    if (!::ReadFile(H(handle_), static_cast<char*>(buffer) + done, static_cast<DWORD>(count - done), &n,
                    nullptr) ||
        n == 0)
      break;
    done += static_cast<std::int32_t>(n);
  }
  return done;
}

std::int32_t TFileStream::Write(const void* buffer, std::int32_t count) {
  std::int32_t done = 0;
  while (handle_ != kClosed && done < count) {
    DWORD n = 0;
    if (!::WriteFile(H(handle_), static_cast<const char*>(buffer) + done, static_cast<DWORD>(count - done),
                     &n, nullptr) ||
        n == 0)
      break;
    done += static_cast<std::int32_t>(n);
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, SeekOrigin origin) {
  DWORD method = origin == SeekOrigin::Beginning ? FILE_BEGIN
                 : origin == SeekOrigin::Current ? FILE_CURRENT
                                                 : FILE_END;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER at;
  if (handle_ == kClosed || !::SetFilePointerEx(H(handle_), distance, &at, method))
    throw EStreamError("ストリームの位置が範囲外です");
  return at.QuadPart;
}

std::int64_t TFileStream::Size() {
  LARGE_INTEGER size;
  if (handle_ == kClosed || !::GetFileSizeEx(H(handle_), &size)) throw EReadError();
  return size.QuadPart;
}

}  // namespace tarnwick
