// Files served for reading, confined beneath ROOT. A requested name is
// checked (RequestName), resolved beneath ROOT without links (RootFolder),
// and must be a regular file. All transfers of one file share one open
// descriptor, read with pread at their own offsets: the tree keeps it while
// any transfer holds it. A file replaced while served keeps serving its old
// bytes to the transfers already running; new requests get the new file,
// and so does a request for a file written in place since it was opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "cliutil/FileHandle.h"
#include "serve/Refusal.h"
#include "serve/RootFolder.h"

namespace tarnwick::serve {

class ServedFile {
 public:
  ServedFile(cli::FileHandle file, FileKey key, cli::FileFacts facts)
      : file_(std::move(file)), key_(key), facts_(facts) {}
  // Bytes read (fewer only at the end of the file), -1 on an error.
  long long ReadAt(std::uint64_t offset, char* out, std::size_t length) const {
    return file_.ReadAt(offset, out, length);
  }
  std::uint64_t Size() const { return facts_.size; }  // when it was opened
  const FileKey& Key() const { return key_; }
  // Why the file is no longer what it was when opened (written in place:
  // size or modification time moved), else empty. A file replaced by a
  // rename is not changed for this descriptor: it still reads the old bytes.
  std::string Changed() const;

 private:
  cli::FileHandle file_;
  FileKey key_;
  cli::FileFacts facts_;
};

struct ReadOpening {
  std::shared_ptr<const ServedFile> file;  // null when refused
  Refusal refusal;
};

class RootTree {
 public:
  // Null with error when root is no folder that can be opened.
  static std::unique_ptr<RootTree> Open(const std::string& root, std::string& error);
  explicit RootTree(std::unique_ptr<RootFolder> root) : root_(std::move(root)) {}

  ReadOpening OpenForReading(std::string_view wireName);
  const RootFolder& Root() const { return *root_; }
  // Files open for running transfers (each counted once however many share it).
  std::size_t OpenFiles();

 private:
  std::unique_ptr<RootFolder> root_;
  std::map<FileKey, std::weak_ptr<const ServedFile>> open_;
  std::size_t pruneAt_ = 64;
};

}  // namespace tarnwick::serve
