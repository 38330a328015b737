// Where a put's blocks come from: a regular file read by offset at the size
// it had when the transfer started. Memory stays flat whatever the file size.
#pragma once

#include <cstdint>
#include <string>

#include "cliutil/FileHandle.h"
#include "tftp/ClientTransfer.h"

namespace tarnwick::cli {

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
