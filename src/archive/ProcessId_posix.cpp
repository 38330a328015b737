#include <unistd.h>

#include "archive/ProcessId.h"

namespace tarnwick::archive {

std::uint64_t CurrentProcessId() { return static_cast<std::uint64_t>(::getpid()); }

}  // namespace tarnwick::archive
