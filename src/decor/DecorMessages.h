// Private window messages of the title-bar decorations. The numbers are
// fixed: components of other builds and the form's own code may post them.
#pragma once

namespace tarnwick {

// Posted to the hook list's window; lParam is a destroyed form window whose
// hooks must move to the window that replaces it.
constexpr unsigned WM_FORMHOOK_REHOOK = 1325;  // WM_USER + 301
// Posted to a caption button's utility window: repaint the button later.
constexpr unsigned WM_CAPTIONBTN_REPAINT = 14937;
// Sent to the form window: put the button's system-menu item back.
constexpr unsigned WM_CAPTIONBTN_SYSMENU = 14944;
// Sent to the form window; wParam is the new topmost state.
constexpr unsigned WM_FORMHOOK_TOPMOST = 14946;
// Notification-area callback to a tray icon's utility window.
constexpr unsigned WM_TRAYICON_NOTIFY = 14948;

}  // namespace tarnwick
