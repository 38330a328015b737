#include "cli/DownloadFile.h"

#include "base/Stream.h"
#include "cli/LocalFile.h"

namespace tarnwick::cli {

DownloadFile::DownloadFile(std::string target) : target_(std::move(target)) {
  for (int attempt = 0; attempt < 4 && !file_.Valid(); ++attempt) {
    std::string candidate = TemporaryNameFor(target_);
    file_ = FileHandle::CreateExclusive(candidate);
    if (file_.Valid()) temporary_ = candidate;
  }
  if (!file_.Valid()) throw EFCreateError(target_);
  buffer_.reserve(kBufferSize);
}

DownloadFile::~DownloadFile() { Discard(); }

bool DownloadFile::Flush() {
  if (buffer_.empty()) return !failed_;
  if (!failed_) {
    failed_ = !file_.WriteAll(buffer_.data(), buffer_.size());
    ++systemWrites_;
  }
  buffer_.clear();
  return !failed_;
}

bool DownloadFile::Write(std::string_view bytes) {
  if (failed_ || finished_) return false;
  written_ += bytes.size();
  if (buffer_.size() + bytes.size() > kBufferSize && !Flush()) return false;
  if (bytes.size() >= kBufferSize) {  // a block too large to be worth copying
    ++systemWrites_;
    failed_ = !file_.WriteAll(bytes.data(), bytes.size());
    return !failed_;
  }
  buffer_.append(bytes.data(), bytes.size());
  return true;
}

void DownloadFile::Commit() {
  const bool flushed = Flush();
  const bool closed = file_.Close();
  if (!flushed || !closed) {
    Discard();
    throw EFCreateError(target_);
  }
  if (!ReplaceFileWith(temporary_, target_)) {
    Discard();
    throw EFCreateError(target_);
  }
  finished_ = true;
}

void DownloadFile::Discard() {
  if (finished_) return;
  finished_ = true;
  file_.Close();
  RemoveFileQuietly(temporary_);
}

}  // namespace tarnwick::cli
