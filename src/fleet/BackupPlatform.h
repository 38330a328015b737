// The few things a backup run needs from the system besides the console
// (cliutil/Console.h): how many descriptors it may hold and who may read the
// inventory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnwick::fleet {

// Descriptors a run holds besides its transfers (standard streams, the
// inventory, the report, a git repository's files).
constexpr std::uint64_t kReservedDescriptors = 24;
// Each running transfer: its socket and its temporary file; and as many
// complete files again, open while they are flushed to disk.
constexpr std::uint64_t kDescriptorsPerJob = 3;

// CurrentProcessId: archive/ProcessId.h.

// Ends this process at once, as kill -9 would: no destructor, no flush.
[[noreturn]] void EndProcessAtOnce();

// For tests only: TARNWICK_TEST_KILL_AT=failed:K makes the run end itself
// at once right after its K-th failed device, so a test stops it at a
// chosen stage and checks what the next run makes of what it left.
struct TestKillPoint {
  std::size_t failures = 0, failedSoFar = 0;  // 0: never
  static TestKillPoint FromEnvironment();
  bool AfterFailure() { return failures && ++failedSoFar == failures; }
};

// Jobs that fit under a descriptor limit (at least 1).
int JobsForDescriptorLimit(int wanted, std::uint64_t limit);

// Raises the soft descriptor limit towards what `wanted` jobs need when the
// hard limit allows it, and returns the jobs that fit; warning says why it is
// fewer than wanted.
int FitJobsToDescriptors(int wanted, std::string& warning);

// A warning when a file holding passwords can be read by other users
// (group/others bits on POSIX); empty when it cannot or the check does not
// apply.
std::string ExposedSecretsWarning(const std::string& path);

}  // namespace tarnwick::fleet
