// The local ends of the streaming engine's transfers. A get writes its blocks
// through a 256 KiB buffer into a temporary file beside the target and
// renames it onto the target only when the whole file has arrived; a put
// reads blocks by offset. Memory stays flat whatever the file size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cli/FileHandle.h"
#include "tftp/ClientTransfer.h"

namespace tarnwick::cli {

class DownloadFile : public tftp::FileSink {
 public:
  static constexpr std::size_t kBufferSize = 256 * 1024;

  // Creates the temporary file now, so an unwritable target is reported
  // before anything goes on the wire. Raises EFCreateError naming the target.
  explicit DownloadFile(std::string target);
  ~DownloadFile() override;  // removes the temporary file unless committed
  DownloadFile(const DownloadFile&) = delete;
  DownloadFile& operator=(const DownloadFile&) = delete;

  bool Write(std::string_view bytes) override;
  // Writes what is buffered, closes and renames onto the target. Raises
  // EFCreateError naming the target when either fails; the target is
  // untouched then and the temporary file removed.
  void Commit();
  // Closes and removes the temporary file now.
  void Discard();

  const std::string& TemporaryPath() const { return temporary_; }
  std::uint64_t Written() const { return written_; }
  int SystemWrites() const { return systemWrites_; }

 private:
  bool Flush();

  std::string target_;
  std::string temporary_;
  FileHandle file_;
  std::string buffer_;
  std::uint64_t written_ = 0;
  int systemWrites_ = 0;
  bool failed_ = false;
  bool finished_ = false;  // committed or discarded
};

class UploadFile : public tftp::FileSource {
 public:
  // Raises EFOpenError naming the path when it cannot be opened for reading.
  explicit UploadFile(const std::string& path);
  std::uint64_t Size() const override { return size_; }
  long long Read(std::uint64_t offset, char* out, std::size_t length) override;

 private:
  FileHandle file_;
  std::uint64_t size_ = 0;
};

}  // namespace tarnwick::cli
