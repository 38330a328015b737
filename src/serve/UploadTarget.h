// One upload (WRQ) from its request to its published file, written like
// every file of ours: checked before the first ACK (uploads enabled, name
// beneath the upload tree, no file there unless overwriting is allowed,
// announced size within the limit), written to a private temporary file
// created exclusively beside the target, then flushed, renamed into place
// and the folder flushed. Abandoned or failed, it leaves nothing behind;
// replacing an existing file is one rename, never a rewrite in place.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cliutil/FileHandle.h"
#include "serve/Refusal.h"
#include "serve/RootFolder.h"

namespace tarnwick::serve {

struct UploadPolicy {
  bool enabled = false;
  bool overwrite = false;
  std::uint64_t maxBytes = 64ull << 20;
};

class UploadTarget {
 public:
  // Null with refusal when the upload must be turned down before the first
  // ACK. tsize: the size the client announced, if it did.
  static std::unique_ptr<UploadTarget> Begin(const RootFolder& tree, std::string_view wireName,
                                             const UploadPolicy& policy, std::optional<std::uint64_t> tsize,
                                             Refusal& refusal);
  ~UploadTarget();  // an upload not finished is removed
  UploadTarget(const UploadTarget&) = delete;
  UploadTarget& operator=(const UploadTarget&) = delete;

  // The next bytes of the upload; false with refusal when they cannot be
  // stored (over the size limit, disk full). The upload is then abandoned.
  bool Write(std::string_view bytes, Refusal& refusal);
  // After the last block: flush, rename into place, flush the folder.
  bool Finish(Refusal& refusal);
  std::uint64_t Bytes() const { return bytes_; }
  // Set when a finished upload is in place but its folder could not be flushed.
  const std::string& Warning() const { return warning_; }

  UploadTarget(std::unique_ptr<RootFolder> folder, std::string name, std::string temp, cli::FileHandle file,
               const UploadPolicy& policy);

 private:
  void Abandon() noexcept;

  std::unique_ptr<RootFolder> folder_;
  std::string name_;
  std::string temp_;
  cli::FileHandle file_;
  UploadPolicy policy_;
  std::uint64_t bytes_ = 0;
  bool done_ = false;
  std::string warning_;
};

}  // namespace tarnwick::serve
