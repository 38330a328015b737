// Where a put's blocks come from.
//
// UploadFile: a regular file, sent at the size it had when the transfer
// started, read ahead in large pieces so that a lock-step put does not make
// one system call per block; Changed() tells whether its size or
// modification time moved since then, so a file rewritten during the
// transfer is never committed as a mix of two versions.
//
// UploadStream: a pipe, FIFO or standard input, read in order to its end;
// only the bytes not yet acknowledged are kept (at most one window, which
// the engine keeps under TransferRequest::streamHold), since a stream
// cannot be read twice.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cliutil/FileHandle.h"
#include "tftp/ClientTransfer.h"

namespace tarnwick::cli {

class UploadFile : public tftp::FileSource {
 public:
  static constexpr std::size_t kReadAhead = 256 * 1024;

  // Raises EFOpenError naming the path when it cannot be opened for reading
  // or is not a regular file.
  explicit UploadFile(const std::string& path);
  // An open regular file; path names it in messages. Raises EFOpenError
  // naming the path when the file's facts cannot be read or it is not a
  // regular file (a stream goes to UploadStream).
  UploadFile(FileHandle file, std::string path);

  std::uint64_t Size() const override { return start_.size; }
  long long Read(std::uint64_t offset, char* out, std::size_t length) override;
  std::string Changed() override;
  std::string ReadFailure() const override { return failure_; }

 private:
  FileHandle file_;
  std::string path_;
  FileFacts start_;
  std::string buffer_;  // the file's bytes from bufferStart_ on
  std::uint64_t bufferStart_ = 0;
  std::size_t buffered_ = 0;
  std::string failure_;
};

class UploadStream : public tftp::FileSource {
 public:
  explicit UploadStream(FileHandle file);

  std::uint64_t Size() const override { return 0; }
  bool SizeKnown() const override { return false; }
  // Fills length bytes unless the stream ends first (short only at its end).
  long long Read(std::uint64_t offset, char* out, std::size_t length) override;
  void Release(std::uint64_t offset) override;
  std::string ReadFailure() const override { return failure_; }

  // Bytes held for a possible retransmission (tests keep this bounded).
  std::size_t Held() const { return buffer_.size(); }

 private:
  FileHandle file_;
  // The stream's bytes from bufferStart_ on. A vector: it grows to exactly
  // what the window needs, where a string would double its capacity.
  std::vector<char> buffer_;
  std::uint64_t bufferStart_ = 0;
  bool ended_ = false;
  std::string failure_;
};

}  // namespace tarnwick::cli
