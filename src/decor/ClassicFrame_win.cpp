#include "decor/ClassicFrame_win.h"

#include "ui/OptionalApi_win.h"

namespace tarnwick {

bool UseClassicFrame(HWND wnd) noexcept {
  const auto set = OptionalFunctions().DwmSetWindowAttribute;
  if (set == nullptr || wnd == nullptr) return false;
  const DWORD policy = kDwmNonClientRenderingDisabled;
  return SUCCEEDED(set(wnd, kDwmNonClientRenderingPolicy, &policy, sizeof policy));
}

}  // namespace tarnwick
