// Local-file helpers of tarnwick-cli. A download is written to a temporary
// file beside its target and renamed over it only when the transfer and the
// write have succeeded, so a failed or interrupted get never leaves a partial
// or truncated file under the target's name.
#pragma once

#include <string>

#include "base/MemoryStream.h"

namespace tarnwick::cli {

class PendingFile {
 public:
  // Creates the temporary file now, so an unwritable target is reported
  // before anything goes on the wire. Raises EFCreateError with the target.
  explicit PendingFile(std::string target);
  ~PendingFile();  // removes the temporary file unless committed
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Writes content whole and renames the temporary file onto the target.
  // Raises EFCreateError or EWriteError; the target is untouched then.
  void Commit(TMemoryStream& content);
  const std::string& TemporaryPath() const { return temporary_; }

 private:
  std::string target_;
  std::string temporary_;
  bool committed_ = false;
};

// "TARGET.tarnwick-<8 random hex digits>.part": beside the target, so the
// final rename stays on one file system.
std::string TemporaryNameFor(const std::string& target);

// Platform parts (LocalFile_posix.cpp / LocalFile_win.cpp); paths are UTF-8.
bool ReplaceFileWith(const std::string& from, const std::string& to);
void RemoveFileQuietly(const std::string& path);
std::string AbsolutePath(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace tarnwick::cli
