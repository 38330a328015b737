// What DEST remembers about each device between runs (last attempt, last
// success, last change, last error) and the "stale" rule built on it: a
// device whose last success is older than --stale HOURS, or that has never
// succeeded and has failed at least once. Pure data and text: the store
// writes the bytes atomically under the run's lock.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace tarnwick::archive {

// Times are UTC seconds since 1970; 0 means "never".
struct DeviceState {
  std::string name;
  std::int64_t lastAttempt = 0;
  std::int64_t lastSuccess = 0;
  std::int64_t lastChange = 0;
  // First failure of the current run of failures (0 once it succeeds again):
  // where a device that never succeeded counts as stale from. For a device
  // that only pushes and has not yet pushed, the first run that listed it
  // (AwaitPush): it has been failing to deliver since.
  std::int64_t failingSince = 0;
  std::int64_t lastErrorTime = 0;
  std::string lastError;      // UTF-8, password already scrubbed
  std::int64_t lastPush = 0;  // the last push serve received, accepted or not
  std::string lastPushFrom;   // its sender's address ("192.0.2.10", "2001:db8::7")
};

struct RunState {
  std::vector<DeviceState> devices;  // in the order first seen
};

// The device's entry, added (empty) when it has none yet.
DeviceState& StateOf(RunState& state, const std::string& name);

// One attempt's outcome folded into the device's entry.
void RecordAttempt(RunState& state, const std::string& name, std::int64_t now, bool succeeded, bool changed,
                   const std::string& error);

// A push serve received, folded in like an attempt, with its time and sender.
void RecordPush(RunState& state, const std::string& name, std::int64_t now, bool succeeded, bool changed,
                const std::string& error, const std::string& from);

// A push-only device listed by a run: one that has never succeeded starts
// its wait for a first push now, unless it already waits or has failed.
void AwaitPush(RunState& state, const std::string& name, std::int64_t now);

struct InventoryChange {
  std::vector<std::string> added;  // named by the inventory, unknown to the state
  std::vector<std::string> gone;   // remembered by the state, no longer named
};

// What changed in the inventory since the runs the state remembers, each
// list in its source's order. (On a first run every device is "added": the
// caller says so only when a state file was read.)
InventoryChange CompareInventory(const RunState& state, const std::vector<std::string>& inventory);

// The file's bytes, always in the current version. Names, errors and
// addresses are escaped, so hostile text cannot
// make a second record or break a field.
std::string SerializeRunState(const RunState& state);

struct ParsedRunState {
  RunState state;
  // Why some or all of the file was not taken, one line each; the records
  // that could be read are kept, so one damaged line costs one device's
  // history, not the fleet's.
  std::vector<std::string> warnings;
};

// Reads the current version and the one before it (whose records have no
// push fields: they stay 0 and empty).
ParsedRunState ParseRunState(const std::string& bytes);

// The state's file in DEST, and the most of it that is read.
inline constexpr char kStateFileName[] = ".tarnwick.state";
inline constexpr std::size_t kMaxStateBytes = 64u << 20;

constexpr int kDefaultStaleHours = 48;

struct StaleDevice {
  std::string name;
  std::int64_t since = 0;  // last success, or the first failure when it never succeeded
  bool neverSucceeded = false;
};

// Devices of `state` that are stale at `now`, oldest first. A last success
// exactly `hours` old is not stale yet. A last success in the future (a run
// under a clock set ahead) counts as unknown: stale once the device has
// failed for longer than `hours`.
std::vector<StaleDevice> StaleDevices(const RunState& state, std::int64_t now, int hours);
// The same, where the devices named in pushOnly, which backup never fetches,
// are stale without a success only once they have waited (or failed) for
// longer than `hours`: a device added today has had no night to push in.
std::vector<StaleDevice> StaleDevices(const RunState& state, std::int64_t now, int hours,
                                      const std::set<std::string>& pushOnly);

// Devices whose last success is later than `now`, for a warning.
std::vector<std::string> SuccessesInTheFuture(const RunState& state, std::int64_t now);

// "2 devices stale, the oldest since 2026-12-06 01:30 UTC", "1 device stale,
// since ...", "no device stale".
std::string StaleLine(const std::vector<StaleDevice>& stale);

// "2026-12-06 01:30 UTC"
std::string UtcMinuteText(std::int64_t seconds);

}  // namespace tarnwick::archive
