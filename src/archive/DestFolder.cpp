// What both platforms' DestFolder say when another run holds DEST's lock.
#include "archive/DestFolder.h"

namespace tarnwick::archive {

std::string LockHeldText(const std::string& dest, const cli::FileHandle& lock) {
  // The holder wrote its run line into the lock file; quote it so the user
  // can tell which run to wait for.
  char holder[256] = {};
  const long long n = lock.ReadAt(0, holder, sizeof holder - 1);
  std::string who = n > 0 ? std::string(holder, static_cast<std::size_t>(n)) : "";
  while (!who.empty() && (who.back() == '\n' || who.back() == '\r')) who.pop_back();
  return dest + " is in use by another backup run (" + (who.empty() ? "holder unknown" : who) + ")";
}

}  // namespace tarnwick::archive
