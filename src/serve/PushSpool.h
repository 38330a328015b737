// Where a device's push waits between its last ACK and the archive: the
// folder .tarnwick-spool inside DEST (our own files: never swept, never
// committed), one complete, flushed file per push. A push is acknowledged
// once its file is here, so a DEST held by a nightly backup, a slow disk or
// a crash never loses one: the archiver takes what waits, oldest first,
// whenever it can have DEST, and a restarted server finds it again.
//
// A waiting file's name carries its facts, so nothing else has to survive
// a crash: "<ms since 1970, 13 digits>-<sequence, 6 digits>@<sender>@<device>"
// (the sender's ':' written '_', which Windows names cannot hold).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serve/RootFolder.h"

namespace tarnwick::serve {

inline constexpr char kSpoolFolder[] = ".tarnwick-spool";

struct SpoolEntry {
  std::string file;  // the name in the spool
  std::int64_t unixMs = 0;
  std::string from;    // "192.0.2.10", "2001:db8::7"
  std::string device;  // the inventory's name
};

std::string SpoolEntryName(std::int64_t unixMs, std::uint32_t sequence, std::string_view from,
                           std::string_view device);
// nullopt for a name that is no waiting push (a temporary file, a stranger).
std::optional<SpoolEntry> ParseSpoolEntry(std::string_view file);

class PushSpool {
 public:
  // Creates the spool beneath dest when missing (owner only); null with
  // error when it cannot be made or is not a plain folder.
  static std::unique_ptr<PushSpool> Open(const std::string& dest, std::string& error);

  // Where uploads are written (through UploadTarget).
  const RootFolder& Folder() const { return *folder_; }
  // The pushes waiting, oldest first.
  std::vector<SpoolEntry> Waiting() const;
  // A waiting push's bytes, at most limit; false with error.
  bool Read(const SpoolEntry& entry, std::uint64_t limit, std::string& bytes, std::string& error) const;
  void Remove(const SpoolEntry& entry) const { folder_->Remove(entry.file); }
  // Removes the temporary files of uploads that were cut off when a server
  // ended; only while no upload runs. How many went.
  std::size_t RemoveLeftovers() const;

 private:
  PushSpool(std::string path, std::unique_ptr<RootFolder> folder)
      : path_(std::move(path)), folder_(std::move(folder)) {}
  std::vector<std::string> Names() const;
  std::string path_;
  std::unique_ptr<RootFolder> folder_;
};

}  // namespace tarnwick::serve
