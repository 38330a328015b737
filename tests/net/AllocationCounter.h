// Counts heap allocations made by the calling thread while a counter is
// armed; the replacement operator new lives in AllocationCounter.cpp and is
// linked only into the binaries that measure allocations.
#pragma once

#include <cstddef>

namespace tarnwick::test {

struct AllocationWindow {
  AllocationWindow();
  ~AllocationWindow();
  std::size_t Count() const;
};

}  // namespace tarnwick::test
