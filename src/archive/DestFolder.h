// The backup's destination folder as the store sees it: every operation
// names a path relative to DEST ("sw1.cfg", "history/sw1/x.cfg", each part a
// plain name) and is done relative to DEST's own handle without following a
// symbolic link anywhere, so nothing planted inside DEST can send a write
// or a read outside it. Opening DEST takes its lock: one run per folder,
// released by the system when the process ends however it ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cliutil/FileHandle.h"

namespace tarnwick::archive {

struct DestOpening {
  bool created = false;        // DEST did not exist: 0700 folder, 0600 files
  bool busy = false;           // another run holds the lock; error names it
  bool groupReadable = false;  // a team's folder: files 0640, folders 0750
  std::string error;
  std::vector<std::string> warnings;
};

// How a held lock is waited for.
struct LockWait {
  std::chrono::milliseconds limit{0};  // then it counts as busy
  // Non-empty: wait only while the holder's line in the lock file starts
  // with this (a serve storing pushes holds DEST for seconds; another
  // backup for the night, so it is refused at once).
  std::string holderPrefix;
  std::function<bool()> stop;                        // true ends the wait (Ctrl+C)
  std::function<void(const std::string&)> waitsFor;  // told once, with the holder's line
};

// One look at a held lock for Open: true after waiting kLockRetry when the
// lock is worth trying again, false to give up (stopped() says whether a
// stop did it).
class LockWaiter {
 public:
  explicit LockWaiter(const LockWait& wait);
  bool KeepWaiting(const cli::FileHandle& lock);
  bool Stopped() const { return stopped_; }

 private:
  const LockWait& wait_;
  std::chrono::steady_clock::time_point started_, giveUp_;
  bool told_ = false, stopped_ = false;
};

class DestFolder {
 public:
  // Creates DEST when missing, takes the lock (writing runInfo into the lock
  // file for the next one to quote) and works out the modes of what it
  // writes. Empty with opening.error (and busy) on failure. waitForLock:
  // how long a held lock is waited for before it counts as busy (a store
  // shared between a long-running process and the nightly run waits its
  // turn; a run started by hand is told at once).
  static std::unique_ptr<DestFolder> Open(
      const std::string& dest, const std::string& runInfo, DestOpening& opening,
      std::chrono::milliseconds waitForLock = std::chrono::milliseconds(0)) {
    return Open(dest, runInfo, opening, LockWait{waitForLock, {}, {}, {}});
  }
  static std::unique_ptr<DestFolder> Open(const std::string& dest, const std::string& runInfo,
                                          DestOpening& opening, const LockWait& wait);
  ~DestFolder();
  DestFolder(const DestFolder&) = delete;
  DestFolder& operator=(const DestFolder&) = delete;

  // A new file, created exclusively with the store's file mode, open for
  // reading and writing.
  cli::FileHandle CreateExclusive(const std::string& rel, cli::FileError& error);
  // An existing regular file for reading; missing is set (and the handle
  // invalid) when there is none. A symbolic link or anything but a regular
  // file is an error that says so.
  cli::FileHandle OpenExisting(const std::string& rel, bool& missing, cli::FileError& error);
  // Every folder of rel (itself included) made when missing, with the
  // store's folder mode; a link or a file in the way is an error.
  bool MakeFolders(const std::string& rel, cli::FileError& error);
  // A second name for an existing file; exists is set when `to` is taken.
  // Fails where the file system has no hard links (the caller copies).
  bool Link(const std::string& from, const std::string& to, bool& exists, cli::FileError& error);
  // Moves from onto to, replacing it (never through a link at `to`).
  bool Replace(const std::string& from, const std::string& to, cli::FileError& error);
  void Remove(const std::string& rel);
  bool SyncFolder(const std::string& rel, cli::FileError& error);  // "" is DEST itself
  // The plain names in a folder ("" is DEST); sub is set for folders.
  struct Entry {
    std::string name;
    bool folder = false;
  };
  std::vector<Entry> List(const std::string& rel);

 private:
  struct Impl;
  explicit DestFolder(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Our temporary files in DEST and its history start with this; device
// names cannot (they never start with a dot).
constexpr const char* kTempPrefix = ".tarnwick-";
constexpr const char* kLockName = ".tarnwick.lock";
// How often a held lock is tried again while it is waited for.
constexpr std::chrono::milliseconds kLockRetry{20};

// The refusal when another run holds DEST's lock, quoting the holder's
// line from the lock file ("holder unknown" when it is empty).
std::string LockHeldText(const std::string& dest, const cli::FileHandle& lock);
// That line, without its line break; empty when the holder wrote none (yet).
std::string LockHolderLine(const cli::FileHandle& lock);
// The refusal when a stop ended the wait.
std::string LockWaitStoppedText(const std::string& dest, const cli::FileHandle& lock);

// "what" of an error about rel: "history/sw1 is a symbolic link" etc.
std::string FileErrorText(const std::string& what, const cli::FileError& error);

}  // namespace tarnwick::archive
