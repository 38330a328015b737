#include <windows.h>

#include "archive/ProcessId.h"

namespace tarnwick::archive {

std::uint64_t CurrentProcessId() { return ::GetCurrentProcessId(); }

}  // namespace tarnwick::archive
