// A folder reached beneath ROOT without following a link anywhere, and the
// few operations the server does on plain names inside it (names already
// checked by SplitRequestName: no separators, no '.' or '..'). On Linux the
// folder is a descriptor and every operation is relative to it (openat2
// with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where the kernel has it, an
// O_NOFOLLOW walk where not); on Windows each component is opened without
// following reparse points and held open while it is used.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cliutil/FileHandle.h"
#include "serve/Refusal.h"

namespace tarnwick::serve {

// Which file an open descriptor is, whatever name led to it.
struct FileKey {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  bool operator<(const FileKey& o) const { return device != o.device ? device < o.device : index < o.index; }
  bool operator==(const FileKey& o) const { return device == o.device && index == o.index; }
};

struct OpenedFile {
  cli::FileHandle file;  // invalid when refused
  FileKey key;
  std::uint64_t size = 0;
  Refusal refusal;
};

// What a name in a folder is, looked at without following it.
enum class EntryKind { None, Regular, Other };

class RootFolder {
 public:
  // ROOT itself; null with error when it is no folder we can open.
  static std::unique_ptr<RootFolder> OpenRoot(const std::string& path, std::string& error);
  ~RootFolder();
  RootFolder(const RootFolder&) = delete;
  RootFolder& operator=(const RootFolder&) = delete;

  // The folder `folders` names beneath this one (empty: this one again);
  // null with refusal when a component is missing, no folder, or a link.
  std::unique_ptr<RootFolder> Descend(const std::vector<std::string>& folders, Refusal& refusal) const;
  // An existing regular file for reading. Devices, FIFOs, sockets, folders
  // and links are refused, and opening a FIFO never waits for a writer.
  OpenedFile OpenRegular(const std::string& name) const;
  EntryKind Look(const std::string& name) const;
  // A new file readable and writable by the owner alone; invalid with error
  // when the name exists or cannot be created.
  cli::FileHandle CreatePrivate(const std::string& name, cli::FileError& error) const;
  // Gives a finished private file the mode it is published with: that of the
  // regular file it replaces, else what the umask allows a new file.
  void SetPublishedMode(cli::FileHandle& file, const std::string& replacing) const;
  // Renames temp to name. Without replace, an existing name is left alone and
  // exists is set; with it, name is replaced in one step (never rewritten).
  bool Publish(const std::string& temp, const std::string& name, bool replace, bool& exists,
               cli::FileError& error) const;
  void Remove(const std::string& name) const noexcept;
  // Flushes the folder's entries (the rename) to disk.
  bool Sync(cli::FileError& error) const;

  struct Impl;
  explicit RootFolder(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarnwick::serve
