#include "fleet/BackupPlatform.h"

namespace tarnwick::fleet {

int JobsForDescriptorLimit(int wanted, std::uint64_t limit) {
  if (wanted < 1) return 1;
  if (limit <= kReservedDescriptors + kDescriptorsPerJob) return 1;
  std::uint64_t fit = (limit - kReservedDescriptors) / kDescriptorsPerJob;
  return fit < static_cast<std::uint64_t>(wanted) ? static_cast<int>(fit) : wanted;
}

}  // namespace tarnwick::fleet
