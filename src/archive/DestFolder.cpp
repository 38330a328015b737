// What both platforms' DestFolder say when another run holds DEST's lock.
#include "archive/DestFolder.h"

#include <thread>

namespace tarnwick::archive {

std::string LockHolderLine(const cli::FileHandle& lock) {
  // The holder wrote its run line into the lock file; quote it so the user
  // can tell which run to wait for.
  char holder[256] = {};
  const long long n = lock.ReadAt(0, holder, sizeof holder - 1);
  std::string who = n > 0 ? std::string(holder, static_cast<std::size_t>(n)) : "";
  if (const std::size_t end = who.find_first_of("\r\n"); end != std::string::npos) who.resize(end);
  return who;
}

std::string LockHeldText(const std::string& dest, const cli::FileHandle& lock) {
  const std::string who = LockHolderLine(lock);
  return dest + " is in use by another backup run (" + (who.empty() ? "holder unknown" : who) + ")";
}

std::string LockWaitStoppedText(const std::string& dest, const cli::FileHandle& lock) {
  const std::string who = LockHolderLine(lock);
  return "stopped while waiting for " + dest + " (" + (who.empty() ? "holder unknown" : who) + ")";
}

namespace {
// A holder that has just taken the lock may not have written its line yet;
// one that writes none at all (a person's flock) is no serve.
constexpr std::chrono::seconds kUnnamedHolderWait{1};
}  // namespace

LockWaiter::LockWaiter(const LockWait& wait)
    : wait_(wait), started_(std::chrono::steady_clock::now()), giveUp_(started_ + wait.limit) {}

bool LockWaiter::KeepWaiting(const cli::FileHandle& lock) {
  const auto now = std::chrono::steady_clock::now();
  if (now >= giveUp_) return false;
  if (wait_.stop && wait_.stop()) return stopped_ = true, false;
  const std::string holder = LockHolderLine(lock);
  if (!wait_.holderPrefix.empty()) {
    if (holder.empty() && now >= started_ + kUnnamedHolderWait) return false;
    if (!holder.empty() && holder.compare(0, wait_.holderPrefix.size(), wait_.holderPrefix) != 0)
      return false;
  }
  if (!told_ && !holder.empty() && wait_.waitsFor) {
    told_ = true;
    wait_.waitsFor(holder);
  }
  std::this_thread::sleep_for(kLockRetry);
  return true;
}

}  // namespace tarnwick::archive
