#include "fleet/BackupPlatform.h"

#include <cstdlib>
#include <string>

namespace tarnwick::fleet {

TestKillPoint TestKillPoint::FromEnvironment() {
  TestKillPoint point;
  const char* text = std::getenv("TARNWICK_TEST_KILL_AT");
  if (!text) return point;
  const std::string value = text;
  if (value.rfind("failed:", 0) == 0) point.failures = std::strtoul(value.c_str() + 7, nullptr, 10);
  return point;
}

int JobsForDescriptorLimit(int wanted, std::uint64_t limit) {
  if (wanted < 1) return 1;
  if (limit <= kReservedDescriptors + kDescriptorsPerJob) return 1;
  std::uint64_t fit = (limit - kReservedDescriptors) / kDescriptorsPerJob;
  return fit < static_cast<std::uint64_t>(wanted) ? static_cast<int>(fit) : wanted;
}

}  // namespace tarnwick::fleet
