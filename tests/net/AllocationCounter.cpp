#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool armed = false;
thread_local std::size_t counted = 0;
}  // namespace

namespace tarnwick::test {
AllocationWindow::AllocationWindow() {
  counted = 0;
  armed = true;
}
AllocationWindow::~AllocationWindow() { armed = false; }
std::size_t AllocationWindow::Count() const { return counted; }
}  // namespace tarnwick::test

void* operator new(std::size_t size) {
  if (armed) ++counted;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
