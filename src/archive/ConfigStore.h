// The store stage: the saved configurations in the destination folder.
// DEST/<name>.cfg is the last good copy, DEST/history/<name>/<UTC time>.cfg
// the copies it replaced. A transfer streams into an exclusive temporary
// file in DEST (TempConfig, owned by the device's job); the store flushes
// it to disk and renames it into place, keeping the old copy in the
// history first, or removes it. Everything goes through DestFolder: inside
// DEST no symbolic link is followed, and one run holds DEST at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "archive/DestFolder.h"
#include "cliutil/FileHandle.h"
#include "tftp/ClientTransfer.h"

namespace tarnwick::archive {

std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string PathToUtf8(const std::filesystem::path& path);

// "20261208T013000Z": sorts by time, has no ':' (Windows file names).
std::string HistoryStamp(std::time_t utc);

// Whether history copy a ("<stamp>.cfg", "<stamp>-<n>.cfg") was made before
// b: by the stamp, then by n (none is 1). By name alone "Z-2.cfg" sorts
// before "Z.cfg" and "Z-10" before "Z-9".
bool HistoryCopyBefore(const std::string& a, const std::string& b);

class TempConfig : public tftp::FileSink {
 public:
  ~TempConfig() override;  // removes the file unless it was put in place
  TempConfig(const TempConfig&) = delete;
  TempConfig& operator=(const TempConfig&) = delete;

  bool Write(std::string_view bytes) override;
  std::string WriteFailure() const override;
  bool DiskFull() const override { return failure_.diskFull; }
  std::uint64_t Bytes() const { return bytes_; }
  // The bytes written so far, in order, piece by piece.
  bool ReadBack(const std::function<void(std::string_view)>& piece);
  const std::string& RelativePath() const { return rel_; }
  // Flushes the bytes to disk (any thread, while no one writes); Save does
  // it itself for a file not flushed yet. False with the reason.
  bool Sync(std::string& error);

 private:
  friend class ConfigStore;
  TempConfig(DestFolder& folder, std::string rel, cli::FileHandle file);
  DestFolder& folder_;
  std::string rel_;
  cli::FileHandle file_;
  bool WriteBuffered();
  std::string buffer_;
  std::uint64_t bytes_ = 0, written_ = 0;  // given to Write, in the file
  cli::FileError failure_;
  bool placed_ = false, synced_ = false;
};

struct SaveOutcome {
  bool ok = false;
  bool changed = false;
  std::string historyFile;  // relative to DEST ("history/<name>/<stamp>.cfg"), empty when none
  std::string error;
};

class ConfigStore {
 public:
  // Opens (or creates) DEST, takes its lock and removes what dead runs left
  // behind. Empty with opening.error (opening.busy when locked) on failure.
  // waitForLock, wait: as DestFolder::Open.
  static std::unique_ptr<ConfigStore> Open(
      const std::string& dest, const std::string& runInfo, DestOpening& opening,
      std::chrono::milliseconds waitForLock = std::chrono::milliseconds(0)) {
    return Open(dest, runInfo, opening, LockWait{waitForLock, {}, {}, {}});
  }
  static std::unique_ptr<ConfigStore> Open(const std::string& dest, const std::string& runInfo,
                                           DestOpening& opening, const LockWait& wait);
  ConfigStore(const ConfigStore&) = delete;
  ConfigStore& operator=(const ConfigStore&) = delete;

  std::unique_ptr<TempConfig> NewTemp(const std::string& name, std::string& error);
  // The size of the saved <name>.cfg (nullopt when there is none); false
  // with the reason when something else stands at its place.
  bool PreviousSize(const std::string& name, std::optional<std::uint64_t>& size, std::string& error);
  // Whether temp holds exactly the saved <name>.cfg: then nothing needs to
  // reach the disk (most devices on most nights).
  bool SameAsSaved(TempConfig& temp, const std::string& name);
  // Flushes temp to disk and puts it in place as <name>.cfg unless it is
  // the same as the saved copy; the saved copy goes to the history under
  // stamp first (-2, -3, ... when a run of the same second took the name).
  // temp is gone afterwards, whatever the outcome.
  SaveOutcome Save(TempConfig& temp, const std::string& name, const std::string& stamp);
  // The bytes of a file in DEST ("sw1.cfg", the state file), at most
  // `limit`; missing set when there is none. False with the reason.
  bool ReadFile(const std::string& rel, std::size_t limit, std::string& bytes, bool& missing,
                std::string& error);
  // The whole of temp's bytes, at most `limit` (false past it).
  static bool ReadTemp(TempConfig& temp, std::size_t limit, std::string& bytes);
  // Replaces rel with bytes all at once: an exclusive temporary file,
  // flushed, renamed over rel, the folder flushed. A crash leaves the old
  // file or the new one, never half of one.
  bool WriteAtomically(const std::string& rel, const std::string& bytes, std::string& error);
  // Removes the oldest history copies of name past the newest `keep`; how
  // many went.
  std::size_t TrimHistory(const std::string& name, std::size_t keep);
  // A device gone from the inventory: its saved copy moves into its
  // history under stamp. historyFile is where it went.
  bool Retire(const std::string& name, const std::string& stamp, std::string& historyFile,
              std::string& error);
  // Whether <name>.cfg is saved.
  bool HasSaved(const std::string& name);
  // The newest copy in name's history ("history/<name>/<stamp>.cfg"), empty
  // when there is none.
  std::string NewestHistory(const std::string& name);
  // Flushes the folders that changed, so the renames survive a power cut.
  bool SyncFolders(std::string& error);
  std::size_t Swept() const { return swept_; }

 private:
  explicit ConfigStore(std::unique_ptr<DestFolder> folder) : folder_(std::move(folder)) {}
  bool KeepHistory(cli::FileHandle& previous, const std::string& name, const std::string& stamp,
                   SaveOutcome& out);
  void Sweep();
  std::vector<std::string> HistoryCopies(const std::string& name);  // oldest first
  std::unique_ptr<DestFolder> folder_;
  std::set<std::string> touched_;
  std::size_t swept_ = 0;
  unsigned counter_ = 0;
};

}  // namespace tarnwick::archive
