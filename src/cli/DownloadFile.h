// Where a get's blocks go, through a 256 KiB buffer: a temporary file beside
// a regular target, published over it (mode, owner, flush, rename) only when
// the whole file has arrived; or a FIFO, device or standard output written
// in place. Memory stays flat whatever the file size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "cliutil/FileHandle.h"
#include "cliutil/LocalFiles.h"
#include "tftp/ClientTransfer.h"

namespace tarnwick::cli {

class DownloadFile : public tftp::FileSink {
 public:
  static constexpr std::size_t kBufferSize = 256 * 1024;

  // Opens where the bytes go now, so an unwritable target is reported
  // before anything goes on the wire. Raises ELocalFileError naming it.
  explicit DownloadFile(GetTarget target);
  // A path taken by the same rules, with no remote name for a folder.
  explicit DownloadFile(const std::string& path);
  ~DownloadFile() override;  // removes the temporary file unless committed
  DownloadFile(const DownloadFile&) = delete;
  DownloadFile& operator=(const DownloadFile&) = delete;

  bool Write(std::string_view bytes) override;
  std::string WriteFailure() const override;
  bool DiskFull() const override { return error_.diskFull; }
  // Writes what is buffered and, for a temporary file, flushes it to disk.
  bool FlushToDisk() override;

  // Writes what is buffered and publishes the file. Raises ELocalFileError
  // naming the target when that fails; the target is untouched then and
  // the temporary file removed.
  void Commit();
  // Closes and removes the temporary file now.
  void Discard();

  // A FIFO, device or standard output written in place may block for ever
  // (nobody reads): the wait gives up once stop says so.
  void StopWaitingWhen(bool (*stop)()) { file_.StopWaitingWhen(stop); }
  bool Failed() const { return failed_; }
  const GetTarget& Target() const { return target_; }
  // Empty for a target written in place.
  const std::string& TemporaryPath() const { return temporary_; }
  std::uint64_t Written() const { return written_; }  // bytes taken in
  std::uint64_t OnDisk() const { return onDisk_; }    // bytes that reached the file
  int SystemWrites() const { return systemWrites_; }

 private:
  bool Flush();
  bool Put(const char* bytes, std::size_t length);
  std::string Name() const;

  GetTarget target_;
  std::string temporary_;
  FileHandle file_;
  // A plain array filled by memcpy: each block costs one copy and no
  // capacity bookkeeping.
  std::unique_ptr<char[]> buffer_;
  std::size_t buffered_ = 0;
  std::uint64_t written_ = 0;
  std::uint64_t onDisk_ = 0;
  int systemWrites_ = 0;
  FileError error_;
  bool failed_ = false;
  bool finished_ = false;  // committed or discarded
};

}  // namespace tarnwick::cli
