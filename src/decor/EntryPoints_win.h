// Window-procedure entry points bound to objects. The window system calls a
// plain function with no room for a context pointer, yet every hooking
// component needs a procedure of its own that reaches it; a fixed table of
// distinct functions, each reading its own slot, gives exactly that without
// writing executable memory.
#pragma once

#include <windows.h>

namespace tarnwick {

class WndProcTarget {
 public:
  virtual LRESULT EntryDispatch(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept = 0;

 protected:
  ~WndProcTarget() = default;
};

// Number of entry points that can be bound at the same time.
constexpr int kEntryPointCount = 128;

// A procedure that forwards every call to `target`. Raises EOutOfResources
// when all entry points are taken.
WNDPROC AcquireEntryPoint(WndProcTarget* target);
// Unbinds the procedure; calls that still arrive go to DefWindowProcW.
void ReleaseEntryPoint(WNDPROC proc) noexcept;
// Points a bound procedure at another target, keeping it bound.
void RebindEntryPoint(WNDPROC proc, WndProcTarget* target) noexcept;
// The procedure is one of ours and bound to a target.
bool IsEntryPointBound(WNDPROC proc) noexcept;
// Number of entry points bound now (for tests and leak checks).
int BoundEntryPointCount() noexcept;

}  // namespace tarnwick
