#include "cli/UploadFile.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/Stream.h"

namespace tarnwick::cli {

namespace {

FileHandle OpenOrThrow(const std::string& path) {
  FileHandle file = FileHandle::OpenForReading(path);
  if (!file.Valid()) throw EFOpenError(path);
  return file;
}

std::string AtByte(const FileError& error, std::uint64_t offset) {
  return error.text + ", at byte " + std::to_string(offset);
}

}  // namespace

UploadFile::UploadFile(const std::string& path) : UploadFile(OpenOrThrow(path), path) {}

UploadFile::UploadFile(FileHandle file, std::string path) : file_(std::move(file)), path_(std::move(path)) {
  const std::optional<FileFacts> facts = file_.Valid() ? file_.Facts() : std::nullopt;
  if (!facts || !facts->regular) throw EFOpenError(path_);
  start_ = *facts;
}

long long UploadFile::Read(std::uint64_t offset, char* out, std::size_t length) {
  if (offset >= bufferStart_ && offset - bufferStart_ + length <= buffered_) {
    std::memcpy(out, buffer_.data() + (offset - bufferStart_), length);
    return static_cast<long long>(length);
  }
  if (length >= kReadAhead) {  // a block too large to be worth buffering
    const long long got = file_.ReadAt(offset, out, length);
    if (got < 0) failure_ = AtByte(FileError::Last(), offset);
    return got;
  }
  // Sent again or read ahead: the buffer starts at this block from now on.
  if (buffer_.size() != kReadAhead) buffer_.resize(kReadAhead);
  const long long got = file_.ReadAt(offset, buffer_.data(), kReadAhead);
  if (got < 0) {
    failure_ = AtByte(FileError::Last(), offset);
    buffered_ = 0;
    return got;
  }
  bufferStart_ = offset;
  buffered_ = static_cast<std::size_t>(got);
  const std::size_t n = std::min(length, buffered_);
  std::memcpy(out, buffer_.data(), n);
  return static_cast<long long>(n);
}

std::string UploadFile::Changed() {
  const std::optional<FileFacts> now = file_.Facts();
  if (!now) return path_ + " can no longer be examined: " + FileError::Last().text;
  if (now->size != start_.size) {
    return path_ + " changed while it was being sent (" + std::to_string(start_.size) +
           " bytes at the start, " + std::to_string(now->size) + " now)";
  }
  if (now->modified != start_.modified) return path_ + " was modified while it was being sent";
  return {};
}

UploadStream::UploadStream(FileHandle file) : file_(std::move(file)) {}

long long UploadStream::Read(std::uint64_t offset, char* out, std::size_t length) {
  if (offset < bufferStart_) {
    failure_ = "the stream was asked again for bytes it had released, at byte " + std::to_string(offset);
    return -1;
  }
  const std::uint64_t wanted = offset - bufferStart_ + length;
  while (!ended_ && buffer_.size() < wanted) {
    const std::size_t have = buffer_.size();
    // Room for the largest window the engine lets a stream have, taken at
    // once: pages are only touched as they fill, and growing by copying
    // would hold the old bytes and the new twice as many at the peak.
    if (wanted > buffer_.capacity())
      buffer_.reserve(static_cast<std::size_t>(
          std::max<std::uint64_t>({wanted, 2 * std::uint64_t{buffer_.capacity()}, tftp::kStreamHold})));
    buffer_.resize(static_cast<std::size_t>(wanted));
    const long long got = file_.Read(buffer_.data() + have, buffer_.size() - have);
    if (got < 0) {
      const FileError error = FileError::Last();
      failure_ = error.interrupted ? "transfer interrupted by the user" : AtByte(error, bufferStart_ + have);
      buffer_.resize(have);
      return -1;
    }
    buffer_.resize(have + static_cast<std::size_t>(got));
    if (got == 0) ended_ = true;
  }
  const std::uint64_t from = offset - bufferStart_;
  if (from >= buffer_.size()) return 0;
  const std::size_t n = std::min<std::size_t>(length, buffer_.size() - static_cast<std::size_t>(from));
  std::memcpy(out, buffer_.data() + from, n);
  return static_cast<long long>(n);
}

void UploadStream::Release(std::uint64_t offset) {
  if (offset <= bufferStart_) return;
  const std::size_t drop =
      static_cast<std::size_t>(std::min<std::uint64_t>(offset - bufferStart_, buffer_.size()));
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(drop));
  bufferStart_ += drop;
}

}  // namespace tarnwick::cli
