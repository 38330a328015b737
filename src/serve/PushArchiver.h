// The archive's side of serve --archive: on a thread of its own, every push
// waiting in the spool goes through the same steps as a pulled file --
// validate, store (history, state), one git commit and push -- with DEST's
// lock held only while it stores, so a nightly backup and the server take
// turns instead of failing. While a backup holds DEST the pushes wait in
// the spool (each already acknowledged to its device), and the loop serves
// on meanwhile. What waits is taken as one batch: one lock, one flush of
// the folders, one state write and one commit for however many pushes
// arrived while the last batch was stored. Hooks run after the lock is
// released, as in backup.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fleet/Inventory.h"
#include "fleet/NightlyRun.h"
#include "serve/PushSpool.h"
#include "serve/TransferLog.h"

namespace tarnwick::serve {

struct ArchiverSettings {
  std::string dest;
  std::string runInfo;  // the lock file's line while a batch is stored; starts with "serve "
  bool git = false;
  std::string gitBranch, gitPush;
  fleet::HookCommands hooks;
  std::uint64_t maxBytes = 64ull << 20;
  // How long one try for DEST's lock waits before the stop flag is looked at.
  std::chrono::milliseconds lockSlice{1000};
  // After a batch that could not be stored: when it is tried again.
  std::chrono::milliseconds retry{std::chrono::seconds(60)};
};

class PushArchiver {
 public:
  using Reporter = std::function<void(const ArchiveRecord&)>;
  using Notice = std::function<void(const std::string&)>;
  // report: one record per push and per commit; notice: a line about DEST
  // itself (waiting for its lock, cannot open it). Both are called on the
  // archiver's thread.
  PushArchiver(ArchiverSettings settings, const PushSpool& spool, Reporter report, Notice notice);
  ~PushArchiver();  // Finish(0) when not finished
  PushArchiver(const PushArchiver&) = delete;
  PushArchiver& operator=(const PushArchiver&) = delete;

  // Each device's checks (a reloaded inventory); any thread.
  void UseInventory(std::vector<fleet::Device> devices);
  // Starts the thread, which first takes what an earlier server left waiting.
  void Start();
  // A push's file is complete in the spool; any thread.
  void Arrived();
  // Stores what waits if DEST can be had within `within`, then ends the
  // thread; what could not be stored stays in the spool for the next start.
  void Finish(std::chrono::milliseconds within);

  // One batch on the caller's thread: what waits now (up to a batch's
  // worth: Full when more waits), stored. giveUp is asked while DEST's lock
  // is waited for.
  enum class Batch { Done, Full, NotStored };
  Batch StoreWaiting(const std::function<bool()>& giveUp);

 private:
  void Run();
  ArchiverSettings settings_;
  const PushSpool& spool_;
  Reporter report_;
  Notice notice_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::shared_ptr<const std::vector<fleet::Device>> devices_;
  bool arrived_ = true;  // what an earlier server left is taken first
  bool finishing_ = false;
  std::chrono::steady_clock::time_point finishBy_{};
  std::thread thread_;
};

}  // namespace tarnwick::serve
