// Where a get's blocks go: through a 256 KiB buffer into a temporary file
// beside the target, renamed onto the target only when the whole file has
// arrived. Memory stays flat whatever the file size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cliutil/FileHandle.h"
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

}  // namespace tarnwick::cli
