#include "decor/EntryPoints_win.h"

#include <array>
#include <utility>

#include "base/Exception.h"

namespace tarnwick {
namespace {

std::array<WndProcTarget*, kEntryPointCount> targets{};
// Slots are handed out round robin so that a procedure just released (and
// perhaps still cached by someone) is the last to be reused.
int nextSlot = 0;

template <int N>
LRESULT CALLBACK Entry(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (WndProcTarget* target = targets[N]) return target->EntryDispatch(wnd, msg, wParam, lParam);
  return ::DefWindowProcW(wnd, msg, wParam, lParam);
}

template <int... N>
constexpr std::array<WNDPROC, sizeof...(N)> MakeTable(std::integer_sequence<int, N...>) {
  return {{&Entry<N>...}};
}

const std::array<WNDPROC, kEntryPointCount> entries =
    MakeTable(std::make_integer_sequence<int, kEntryPointCount>{});

}  // namespace

WNDPROC AcquireEntryPoint(WndProcTarget* target) {
  for (int i = 0; i < kEntryPointCount; ++i) {
    const int slot = (nextSlot + i) % kEntryPointCount;
    if (targets[slot] == nullptr) {
      targets[slot] = target;
      nextSlot = (slot + 1) % kEntryPointCount;
      return entries[slot];
    }
  }
  throw Exception("EOutOfResources", "No window-procedure entry points left");
}

void ReleaseEntryPoint(WNDPROC proc) noexcept {
  for (int i = 0; i < kEntryPointCount; ++i) {
    if (entries[i] == proc) {
      targets[i] = nullptr;
      return;
    }
  }
}

void RebindEntryPoint(WNDPROC proc, WndProcTarget* target) noexcept {
  for (int i = 0; i < kEntryPointCount; ++i) {
    if (entries[i] == proc) {
      targets[i] = target;
      return;
    }
  }
}

bool IsEntryPointBound(WNDPROC proc) noexcept {
  for (int i = 0; i < kEntryPointCount; ++i) {
    if (entries[i] == proc) return targets[i] != nullptr;
  }
  return false;
}

int BoundEntryPointCount() noexcept {
  int count = 0;
  for (WndProcTarget* t : targets) count += t != nullptr ? 1 : 0;
  return count;
}

}  // namespace tarnwick
