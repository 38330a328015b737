// A growable in-memory byte stream with 32-bit signed size and position. The
// engine's Content is one: a download appends block after block, so the
// buffer grows by doubling and a write that would pass the size limit is
// refused (short count) instead of wrapping the 32-bit size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Stream.h"

namespace tarnwick {

inline constexpr std::int32_t kMaxMemoryStreamSize = INT32_MAX;

// True when count bytes written at position stay within limit. Kept apart so
// the limit can be checked without a buffer of that size.
constexpr bool FitsInStream(std::int64_t position, std::int64_t count, std::int64_t limit) {
  return position >= 0 && count >= 0 && position <= limit && count <= limit - position;
}

// Next capacity for a buffer that must hold at least needed bytes: at least
// double the current one (amortised growth), never more than limit.
std::size_t GrownCapacity(std::size_t current, std::size_t needed, std::size_t limit);

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override { return size_; }

  // Drops the content and the buffer; size and position become 0.
  void Clear();
  // Grows (zero-filled) or shrinks the content; the position is kept unless it
  // lies past the new end. Raises EStreamError outside 0..SizeLimit().
  void SetSize(std::int64_t size);
  // Ensures room for capacity bytes without changing the size.
  void Reserve(std::int32_t capacity);

  // Direct access to the content (Size() bytes, may be null when empty).
  char* Memory() { return data_; }
  const char* Memory() const { return data_; }
  std::int32_t Capacity() const { return static_cast<std::int32_t>(capacity_); }

  // The largest size this stream accepts; 2^31-1 unless lowered (tests lower
  // it to exercise the limit without allocating gigabytes).
  std::int32_t SizeLimit() const { return limit_; }
  void SetSizeLimit(std::int32_t limit);

  // Replace the content with a whole file (position 0) / write the whole
  // content to a file, creating or replacing it. Raise EFOpenError,
  // EFCreateError, EReadError or EWriteError.
  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path);
  void LoadFromStream(TStream& source);
  void SaveToStream(TStream& target);

 private:
  void EnsureCapacity(std::size_t needed);

  char* data_ = nullptr;
  std::size_t capacity_ = 0;
  std::int32_t size_ = 0;
  std::int32_t position_ = 0;
  std::int32_t limit_ = kMaxMemoryStreamSize;
};

}  // namespace tarnwick
