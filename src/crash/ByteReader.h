// Bounded little-endian reading and writing over byte buffers that come
// from outside the program (the tail of the executable, the line tables).
// Every read checks the remaining length first and reports failure instead
// of reading past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

  std::size_t Position() const noexcept { return pos_; }
  std::size_t Remaining() const noexcept { return size_ - pos_; }
  bool AtEnd() const noexcept { return pos_ >= size_; }

  bool U8(std::uint8_t& out) noexcept;
  bool U16(std::uint16_t& out) noexcept;
  bool U32(std::uint32_t& out) noexcept;
  bool I32(std::int32_t& out) noexcept;
  // A length byte followed by that many bytes.
  bool ShortString(std::string& out);
  // A 16-bit count followed by that many short strings.
  bool TextList(std::vector<std::string>& out);
  bool Bytes(std::size_t count, std::vector<std::uint8_t>& out);

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

class ByteWriter {
 public:
  void U8(std::uint8_t v) { bytes_.push_back(v); }
  void U16(std::uint16_t v);
  void U32(std::uint32_t v);
  void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
  // Longer texts are cut to the 255 bytes the length byte can express.
  void ShortString(const std::string& s);
  // Lists beyond 65535 lines are cut to what the count can express.
  void TextList(const std::vector<std::string>& lines);
  void Append(const std::vector<std::uint8_t>& more) {
    bytes_.insert(bytes_.end(), more.begin(), more.end());
  }

  const std::vector<std::uint8_t>& Bytes() const noexcept { return bytes_; }
  std::vector<std::uint8_t> Take() noexcept { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace tarnwick
