// The tooltip tool of a caption button in the one tooltip window of the
// process: added when the button is ready, its area following the button's
// last painted place.
// clang-format off
// windows.h first: the other system headers build on it.
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "decor/CaptionButton.h"
#include "decor/CaptionButtonList_win.h"

namespace tarnwick {

HWND TCustomCaptionButton::TooltipWindow() noexcept { return caption_registry::Tooltip(); }

namespace {
TOOLINFOW MakeToolInfo(HWND form, int id) {
  TOOLINFOW ti{};
  ti.cbSize = TTTOOLINFOW_V2_SIZE;
  ti.hwnd = form;
  ti.uId = static_cast<UINT_PTR>(id);
  ti.hinst = ::GetModuleHandleW(nullptr);
  return ti;
}
wchar_t kEmptyText[] = L"";
}  // namespace

void TCustomCaptionButton::AddTool() {
  HWND tip = caption_registry::Tooltip();
  if (tip == nullptr) return;
  if (FToolAdded) DeleteTool();
  toolId_ = caption_registry::NextToolId();
  // The tool relays through our own hook (see BeforeHookedMessage) rather
  // than having the tooltip subclass the form: the hook chain rewrites the
  // window procedure and would cut such a subclass out of it.
  // The tooltip knows a tool by window and id: keep the window it was added
  // with, since the form's window may be made anew before the tool goes.
  toolWnd_ = HookedWnd();
  TOOLINFOW ti = MakeToolInfo(toolWnd_, toolId_);
  ti.lpszText = kEmptyText;
  FButtonRect = ButtonPlacement{};
  toolArea_ = ToolRect{};
  ::SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  FToolAdded = true;
}

int TCustomCaptionButton::CaptionBand() {
  return ::GetSystemMetrics(IsToolWindow(static_cast<std::uint32_t>(GetFormExStyle())) ? SM_CYSMCAPTION
                                                                                       : SM_CYCAPTION);
}

void TCustomCaptionButton::UpdateTool() {
  HWND tip = caption_registry::Tooltip();
  if (tip == nullptr || !FToolAdded) return;
  const bool active = FVisible && FEnabled && FShowHint && !FHint.empty();
  const int menu = ::GetMenu(HookedWnd()) != nullptr ? ::GetSystemMetrics(SM_CYMENU) : 0;
  toolArea_ = TooltipRect(FButtonRect, CaptionBand(), menu, active);
  TOOLINFOW ti = MakeToolInfo(toolWnd_, toolId_);
  ti.rect = RECT{toolArea_.left, toolArea_.top, toolArea_.right, toolArea_.bottom};
  ti.lpszText = active ? const_cast<wchar_t*>(FHint.c_str()) : kEmptyText;
  ::SendMessageW(tip, TTM_SETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&ti));
}

void TCustomCaptionButton::DeleteTool() {
  if (!FToolAdded) return;
  if (HWND tip = caption_registry::Tooltip()) {
    TOOLINFOW ti = MakeToolInfo(toolWnd_, toolId_);
    ::SendMessageW(tip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
  FToolAdded = false;
  toolWnd_ = nullptr;
}

}  // namespace tarnwick
