// This process's id: in the lock file, and in the temporary names a later
// run (or another process sharing DEST) recognises as left over.
#pragma once

#include <cstdint>

namespace tarnwick::archive {

std::uint64_t CurrentProcessId();

}  // namespace tarnwick::archive
