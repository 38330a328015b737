#include "crash/ByteReader.h"

#include <algorithm>

namespace tarnwick {

bool ByteReader::U8(std::uint8_t& out) noexcept {
  if (Remaining() < 1) return false;
  out = data_[pos_++];
  return true;
}

bool ByteReader::U16(std::uint16_t& out) noexcept {
  if (Remaining() < 2) return false;
  out = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
  pos_ += 2;
  return true;
}

bool ByteReader::U32(std::uint32_t& out) noexcept {
  if (Remaining() < 4) return false;
  out = static_cast<std::uint32_t>(data_[pos_]) | (static_cast<std::uint32_t>(data_[pos_ + 1]) << 8) |
        (static_cast<std::uint32_t>(data_[pos_ + 2]) << 16) |
        (static_cast<std::uint32_t>(data_[pos_ + 3]) << 24);
  pos_ += 4;
  return true;
}

bool ByteReader::I32(std::int32_t& out) noexcept {
  std::uint32_t u = 0;
  if (!U32(u)) return false;
  out = static_cast<std::int32_t>(u);
  return true;
}

bool ByteReader::ShortString(std::string& out) {
  std::uint8_t length = 0;
  if (!U8(length) || Remaining() < length) return false;
  out.assign(reinterpret_cast<const char*>(data_ + pos_), length);
  pos_ += length;
  return true;
}

bool ByteReader::TextList(std::vector<std::string>& out) {
  std::uint16_t count = 0;
  if (!U16(count)) return false;
  // Each line takes at least its length byte: a count the rest cannot hold
  // is a damaged block, caught before anything is reserved for it.
  if (Remaining() < count) return false;
  out.clear();
  out.reserve(count);
  for (std::uint16_t i = 0; i < count; ++i) {
    std::string line;
    if (!ShortString(line)) return false;
    out.push_back(std::move(line));
  }
  return true;
}

bool ByteReader::Bytes(std::size_t count, std::vector<std::uint8_t>& out) {
  if (Remaining() < count) return false;
  out.assign(data_ + pos_, data_ + pos_ + count);
  pos_ += count;
  return true;
}

void ByteWriter::U16(std::uint16_t v) {
  bytes_.push_back(static_cast<std::uint8_t>(v));
  bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void ByteWriter::U32(std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<std::uint8_t>(v >> shift));
}

void ByteWriter::ShortString(const std::string& s) {
  const std::size_t length = std::min<std::size_t>(s.size(), 255);
  bytes_.push_back(static_cast<std::uint8_t>(length));
  bytes_.insert(bytes_.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(length));
}

void ByteWriter::TextList(const std::vector<std::string>& lines) {
  const std::size_t count = std::min<std::size_t>(lines.size(), 0xFFFF);
  U16(static_cast<std::uint16_t>(count));
  for (std::size_t i = 0; i < count; ++i) ShortString(lines[i]);
}

}  // namespace tarnwick
