#include "base/MemoryStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/FileStream.h"

namespace tarnwick {

namespace {
// Small streams start with one allocation big enough for a few TFTP blocks.
constexpr std::size_t kFirstCapacity = 4096;
}  // namespace

std::size_t GrownCapacity(std::size_t current, std::size_t needed, std::size_t limit) {
  if (needed <= current) return current;
  std::size_t next = std::max(current, kFirstCapacity);
  while (next < needed) {
    if (next > limit / 2) return std::max(needed, limit);
    next *= 2;
  }
  return std::max(needed, std::min(next, limit));
}

TMemoryStream::~TMemoryStream() { std::free(data_); }

void TMemoryStream::EnsureCapacity(std::size_t needed) {
  if (needed <= capacity_) return;
  std::size_t next = GrownCapacity(capacity_, needed, static_cast<std::size_t>(limit_));
  void* grown = std::realloc(data_, next);
  if (!grown) throw EOutOfMemory();
  data_ = static_cast<char*>(grown);
  capacity_ = next;
}

std::int32_t TMemoryStream::Read(void* buffer, std::int32_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  std::int32_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, data_ + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int32_t TMemoryStream::Write(const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  if (!FitsInStream(position_, count, limit_)) return 0;
  std::int32_t end = position_ + count;
  if (end > size_) {
    EnsureCapacity(static_cast<std::size_t>(end));
    // A position set past the end leaves a gap; it reads back as zeros.
    if (position_ > size_) std::memset(data_ + size_, 0, static_cast<std::size_t>(position_ - size_));
    size_ = end;
  }
  std::memcpy(data_ + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t base = origin == SeekOrigin::Beginning ? 0 : origin == SeekOrigin::Current ? position_ : size_;
  // Checked without forming base + offset, which could overflow.
  if ((offset < 0 && offset < -base) || (offset > 0 && offset > kMaxMemoryStreamSize - base))
    throw EStreamError("ストリームの位置が範囲外です");
  position_ = static_cast<std::int32_t>(base + offset);
  return position_;
}

void TMemoryStream::Clear() {
  std::free(data_);
  data_ = nullptr;
  capacity_ = 0;
  size_ = 0;
  position_ = 0;
}

void TMemoryStream::SetSize(std::int64_t size) {
  if (size < 0 || size > limit_) throw EStreamError("ストリームのサイズが範囲外です");
  auto newSize = static_cast<std::int32_t>(size);
  if (newSize > size_) {
    EnsureCapacity(static_cast<std::size_t>(newSize));
    std::memset(data_ + size_, 0, static_cast<std::size_t>(newSize - size_));
  }
  size_ = newSize;
  if (position_ > size_) position_ = size_;
}

void TMemoryStream::Reserve(std::int32_t capacity) {
  if (capacity > limit_) throw EStreamError("ストリームのサイズが範囲外です");
  if (capacity > 0) EnsureCapacity(static_cast<std::size_t>(capacity));
}

void TMemoryStream::SetSizeLimit(std::int32_t limit) { limit_ = std::max<std::int32_t>(0, limit); }

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  std::int64_t size = source.Size();
  if (size > limit_) throw EStreamError("ストリームのサイズが範囲外です");
  SetSize(size);
  position_ = 0;
  if (size_ > 0) source.ReadBuffer(data_, size_);
}

void TMemoryStream::SaveToStream(TStream& target) {
  if (size_ > 0) target.WriteBuffer(data_, size_);
}

void TMemoryStream::LoadFromFile(const std::string& path) {
  TFileStream file(path, FileMode::OpenRead);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& path) {
  TFileStream file(path, FileMode::Create);
  SaveToStream(file);
  file.Close();
}

}  // namespace tarnwick
