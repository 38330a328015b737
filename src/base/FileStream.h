// A stream over a local file. Paths are UTF-8; on Windows they are handed to
// the wide-character file functions. A file opened for reading may still be
// read by others but not written while it is open, so a file being sent
// cannot change under the transfer.
#pragma once

#include <cstdint>
#include <string>

#include "base/Stream.h"

namespace tarnwick {

enum class FileMode {
  OpenRead,   // existing file, read only, others may read but not write
  Create,     // create or replace (truncate), read and write
  CreateNew,  // create a file that does not exist yet; an existing name fails
  OpenWrite,  // existing file, read and write, its content kept until written over
};

class TFileStream : public TStream {
 public:
  // Raises EFOpenError (OpenRead) or EFCreateError (the other modes) with
  // the path.
  TFileStream(const std::string& path, FileMode mode);
  ~TFileStream() override;

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override;

  // Pushes what was written down to the disk; raises EWriteError when the
  // system cannot (a full disk may only show here).
  void Flush();
  // Cuts the file to `size` bytes or grows it with zeros; the position
  // stays. Raises EWriteError.
  void SetSize(std::int64_t size);
  // Sets aside disk space for the first `size` bytes, growing the file to
  // that size when it is smaller, so that writing over them cannot run out
  // of room. Raises EWriteError when the disk has no room; the file then
  // keeps its size and content.
  void Reserve(std::int64_t size);
  // Closes the file now; a failure to flush it raises EWriteError. Harmless
  // when already closed. The destructor closes silently.
  void Close();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::intptr_t handle_;  // file descriptor or HANDLE; kClosed when closed
};

}  // namespace tarnwick
