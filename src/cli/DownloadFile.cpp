#include "cli/DownloadFile.h"

#include <cstring>
#include <utility>

namespace tarnwick::cli {

DownloadFile::DownloadFile(GetTarget target) : target_(std::move(target)) {
  if (target_.direct) {
    file_ = target_.standardOutput ? FileHandle::StandardOutput() : FileHandle::OpenForWriting(target_.path);
    if (!file_.Valid()) throw ELocalFileError("cannot write " + Name() + ": " + FileError::Last().text);
  } else {
    FileError error;
    TemporaryFile temporary = CreateTemporaryBeside(target_.path, error);
    // The user named the target, so the error names it too.
    if (!temporary.file.Valid())
      throw ELocalFileError("cannot create a temporary file beside " + target_.path + ": " + error.text);
    temporary_ = std::move(temporary.path);
    file_ = std::move(temporary.file);
  }
  buffer_.reset(new char[kBufferSize]);  // left uninitialised: only written bytes are read
}

DownloadFile::DownloadFile(const std::string& path) : DownloadFile(ResolveGetTarget(path, "")) {}

DownloadFile::~DownloadFile() { Discard(); }

std::string DownloadFile::Name() const { return target_.standardOutput ? "standard output" : target_.path; }

std::string DownloadFile::WriteFailure() const {
  if (!failed_) return {};
  if (error_.interrupted) return "transfer interrupted by the user";
  return error_.text + ", at byte " + std::to_string(onDisk_);
}

bool DownloadFile::Put(const char* bytes, std::size_t length) {
  ++systemWrites_;
  const std::size_t done = file_.WritePrefix(bytes, length);
  onDisk_ += done;
  if (done < length) {
    error_ = FileError::Last();
    failed_ = true;
  }
  return !failed_;
}

bool DownloadFile::Flush() {
  if (buffered_ == 0) return !failed_;
  if (!failed_) Put(buffer_.get(), buffered_);
  buffered_ = 0;
  return !failed_;
}

bool DownloadFile::Write(std::string_view bytes) {
  if (failed_ || finished_) return false;
  written_ += bytes.size();
  if (buffered_ + bytes.size() > kBufferSize && !Flush()) return false;
  if (bytes.size() >= kBufferSize) return Put(bytes.data(), bytes.size());  // too large to be worth copying
  std::memcpy(buffer_.get() + buffered_, bytes.data(), bytes.size());
  buffered_ += bytes.size();
  return true;
}

bool DownloadFile::FlushToDisk() {
  if (finished_ || !Flush()) return false;
  // A FIFO, a device or standard output has no disk behind it to flush.
  if (target_.direct || file_.Sync()) return true;
  error_ = FileError::Last();
  failed_ = true;
  return false;
}

void DownloadFile::Commit() {
  if (finished_) throw ELocalFileError("cannot write " + Name() + ": already finished");
  std::optional<FileError> error;
  if (!Flush())
    error = error_;
  else if (target_.direct) {
    // A FIFO or a device has nothing to flush to disk; closing reports a
    // late write error all the same.
    if (!file_.Close()) error = FileError::Last();
  } else if (std::optional<PublishFailure> failure = PublishTemporary(file_, temporary_, target_.path)) {
    if (failure->keepTemporary) {
      // Copying in place failed half-way: the whole download stays where
      // the user can take it from.
      finished_ = true;
      throw ELocalFileError("cannot write " + Name() + " in place: " + failure->error.text +
                            "; the whole download is kept in " + temporary_);
    }
    error = failure->error;
  }
  if (error) {
    Discard();
    std::string why = error->text;
    if (failed_) why = WriteFailure();
    throw ELocalFileError("cannot write " + Name() + ": " + why);
  }
  finished_ = true;
}

void DownloadFile::Discard() {
  if (finished_) return;
  finished_ = true;
  file_.Close();
  if (!temporary_.empty()) RemoveFileQuietly(temporary_);
}

}  // namespace tarnwick::cli
