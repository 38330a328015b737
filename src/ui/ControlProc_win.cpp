// The window-procedure side of controls: the two static entries, the
// member handler that reflects notifications to the control that sent
// them, and the registration of our window classes.
#include "ui/Control.h"

#include "ui/Application.h"
#include "ui/OSError.h"

namespace tarnwick {

LRESULT TWinControl::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      if (lParam != 0) {
        if (TWinControl* child = FromHandle(reinterpret_cast<HWND>(lParam))) {
          LRESULT result = 0;
          if (child->Reflect(msg, wParam, lParam, result)) return result;
        }
      }
      break;
    case WM_DRAWITEM: {
      auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (dis != nullptr && dis->CtlType != ODT_MENU) {
        if (TWinControl* child = FromHandle(dis->hwndItem)) {
          LRESULT result = TRUE;
          if (child->Reflect(msg, wParam, lParam, result)) return result;
        }
      }
      break;
    }
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (hdr != nullptr) {
        if (TWinControl* child = FromHandle(hdr->hwndFrom)) {
          LRESULT result = 0;
          if (child->Reflect(msg, wParam, lParam, result)) return result;
        }
      }
      break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
      if (TWinControl* child = FromHandle(reinterpret_cast<HWND>(lParam))) {
        if (HBRUSH brush = child->CtlColor(reinterpret_cast<HDC>(wParam), msg)) {
          return reinterpret_cast<LRESULT>(brush);
        }
      }
      break;
    case WM_SIZE:
      Realign();
      break;
    case WM_ERASEBKGND:
      // Our own classes have no class brush: paint the background colour.
      if (oldProc_ == nullptr) {
        RECT rc{};
        ::GetClientRect(handle_, &rc);
        ::FillRect(reinterpret_cast<HDC>(wParam), &rc, BackgroundBrush());
        return 1;
      }
      break;
    default:
      break;
  }
  return DefaultHandler(msg, wParam, lParam);
}

LRESULT TWinControl::Dispatch(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  LRESULT result = Application().Guard(
      this, [&]() -> LRESULT { return WndProc(msg, wParam, lParam); }, LRESULT{0});
  if (msg == WM_NCDESTROY && handle_ == wnd) Detach();
  return result;
}

LRESULT CALLBACK TWinControl::OwnClassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  TWinControl* self = FromHandle(wnd);
  if (self == nullptr && msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    self = static_cast<TWinControl*>(cs->lpCreateParams);
    if (self != nullptr) self->Bind(wnd);
  }
  if (self == nullptr) return ::DefWindowProcW(wnd, msg, wParam, lParam);
  return self->Dispatch(wnd, msg, wParam, lParam);
}

LRESULT CALLBACK TWinControl::SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  TWinControl* self = FromHandle(wnd);
  if (self == nullptr) return ::DefWindowProcW(wnd, msg, wParam, lParam);
  return self->Dispatch(wnd, msg, wParam, lParam);
}

namespace window_class {

void RegisterAll(HINSTANCE instance) {
  auto reg = [instance](const wchar_t* name, WNDPROC proc, UINT style, HICON icon) {
    WNDCLASSEXW wc{};
    if (::GetClassInfoExW(instance, name, &wc)) return;
    wc.cbSize = sizeof(wc);
    wc.style = style;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = icon;
    wc.lpszClassName = name;
    if (::RegisterClassExW(&wc) == 0) RaiseLastOSError("RegisterClassExW");
  };
  // The program icon is resource 1 when the executable carries one.
  HICON icon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
  if (icon == nullptr) icon = ::LoadIconW(nullptr, IDI_APPLICATION);
  reg(Form, &TWinControl::OwnClassProc, CS_DBLCLKS, icon);
  reg(Panel, &TWinControl::OwnClassProc, CS_DBLCLKS, nullptr);
}

}  // namespace window_class

}  // namespace tarnwick
