#include <algorithm>

#include "decor/FormAccess_win.h"
#include "decor/cbClasses.h"
#include "ui/Application.h"

namespace tarnwick {
namespace {

constexpr wchar_t kListClass[] = L"TarnwickHookList";
constexpr wchar_t kUtilityClass[] = L"TarnwickHookUtility";

TcbHookList* hookList = nullptr;
// Windows whose topmost change is being announced right now. While the
// announcement runs through the chain, the hooks must not try to apply it
// again: if the window refused the change, each of them would send the
// announcement anew, without end.
std::vector<HWND> announcingTopmost;

HINSTANCE ModuleInstance() { return ::GetModuleHandleW(nullptr); }

void RegisterClassOnce(const wchar_t* name, WNDPROC proc) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (::GetClassInfoExW(ModuleInstance(), name, &existing)) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = ModuleInstance();
  wc.lpszClassName = name;
  ::RegisterClassExW(&wc);
}

// Hidden top-level windows (not message-only ones): they must see broadcasts
// such as WM_QUERYENDSESSION.
HWND CreateHiddenWindow(const wchar_t* cls, void* self) {
  return ::CreateWindowExW(0, cls, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, ModuleInstance(), self);
}

template <typename T>
T* BindOnCreate(HWND wnd, UINT msg, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  return reinterpret_cast<T*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
}

WNDPROC CurrentWndProc(HWND wnd) { return reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(wnd, GWLP_WNDPROC)); }

}  // namespace

// ---------------------------------------------------------------------------
// TcbFormHookComponent

TcbFormHookComponent::TcbFormHookComponent(TComponent* owner) : TComponent(owner), FForm(owner) {
  if (hookList == nullptr) hookList = new TcbHookList();
  try {
    hookList->Attach(this);
  } catch (...) {
    // The destructor will not run: leave no empty list behind.
    if (hookList->Count() == 0) {
      delete hookList;
      hookList = nullptr;
    }
    throw;
  }
  RegisterClassOnce(kUtilityClass, &UtilityEntry);
  FUtilityWnd = CreateHiddenWindow(kUtilityClass, this);
}

TcbFormHookComponent::~TcbFormHookComponent() {
  BeginDestroy();
  if (FUtilityWnd != nullptr) {
    // Unbind first so that the messages of its destruction reach no
    // half-destroyed component.
    ::SetWindowLongPtrW(FUtilityWnd, GWLP_USERDATA, 0);
    ::DestroyWindow(FUtilityWnd);
    FUtilityWnd = nullptr;
  }
  if (hookList != nullptr) {
    hookList->Detach(this);
    if (hookList->Count() == 0) {
      delete hookList;
      hookList = nullptr;
    }
  }
}

void TcbFormHookComponent::BeforeHookedMessage(THookMessage&, bool&) {}
void TcbFormHookComponent::AfterHookedMessage(THookMessage&) {}
void TcbFormHookComponent::HookRestored() {}

void TcbFormHookComponent::UtilityWndProc(THookMessage& msg) {
  if (msg.Msg == WM_QUERYENDSESSION) {
    msg.Result = 1;  // logoff or shutdown may proceed
    return;
  }
  msg.Result = ::DefWindowProcW(FUtilityWnd, msg.Msg, msg.WParam, msg.LParam);
}

HWND TcbFormHookComponent::GetFormHandle() { return FormHandle(FForm); }

HMENU TcbFormHookComponent::GetSystemMenuHandle() { return ::GetSystemMenu(FHookedWnd, FALSE); }

void TcbFormHookComponent::RefreshFrame() {
  ::SetWindowPos(FHookedWnd, nullptr, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

LONG TcbFormHookComponent::GetFormStyle() const { return ::GetWindowLongW(FHookedWnd, GWL_STYLE); }
LONG TcbFormHookComponent::GetFormExStyle() const { return ::GetWindowLongW(FHookedWnd, GWL_EXSTYLE); }

bool TcbFormHookComponent::GetTopmost() const {
  return (::GetWindowLongW(FHookedWnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

void TcbFormHookComponent::SetTopmost(bool value) {
  FTopmostCache = value;
  if (value == GetTopmost()) return;
  FTopmostCache = value;
  ::SetWindowPos(FHookedWnd, value ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  // Every hooking component of the form and the button see the change
  // through the chain, whoever made it.
  HWND wnd = FHookedWnd;
  announcingTopmost.push_back(wnd);
  struct Done {
    HWND wnd;
    ~Done() {
      auto it = std::find(announcingTopmost.begin(), announcingTopmost.end(), wnd);
      if (it != announcingTopmost.end()) announcingTopmost.erase(it);
    }
  } done{wnd};
  ::SendMessageW(wnd, WM_FORMHOOK_TOPMOST, value ? 1 : 0, 0);
}

LRESULT TcbFormHookComponent::EntryDispatch(HWND, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  THookMessage msg{message, wParam, lParam, 0};
  try {
    bool handled = false;
    TcbHookList* list = hookList;
    if (message == WM_DESTROY) {
      // Only the innermost hook asks, so the window is re-hooked once. A
      // form that is going away is not re-hooked: that would build it a new
      // window while it is being destroyed.
      if (!IsDestroying() && (FForm == nullptr || !FForm->IsDestroying()) && list != nullptr &&
          list->GetBaseWndProc(FHookedWnd) == FOldWndProc) {
        ::PostMessageW(list->Window(), WM_FORMHOOK_REHOOK, 0, reinterpret_cast<LPARAM>(FHookedWnd));
      }
    } else if (message == WM_FORMHOOK_TOPMOST) {
      // Keeps every hooking component of the form in step with a change
      // announced by someone else.
      if (std::find(announcingTopmost.begin(), announcingTopmost.end(), FHookedWnd) ==
          announcingTopmost.end())
        SetTopmost(wParam != 0);
    }
    BeforeHookedMessage(msg, handled);
    if (!handled) msg.Result = ::CallWindowProcW(FOldWndProc, FHookedWnd, msg.Msg, msg.WParam, msg.LParam);
    // The form's handler may have destroyed this component; only the list
    // can tell without touching it.
    if (hookList != nullptr && hookList->Contains(this)) AfterHookedMessage(msg);
  } catch (...) {
    Application().HandleCurrentException(this);
  }
  return msg.Result;
}

LRESULT CALLBACK TcbFormHookComponent::UtilityEntry(HWND wnd, UINT message, WPARAM wParam,
                                                    LPARAM lParam) noexcept {
  auto* self = BindOnCreate<TcbFormHookComponent>(wnd, message, lParam);
  if (self == nullptr || self->FUtilityWnd != wnd) return ::DefWindowProcW(wnd, message, wParam, lParam);
  THookMessage msg{message, wParam, lParam, 0};
  try {
    self->UtilityWndProc(msg);
  } catch (...) {
    Application().HandleCurrentException(self);
  }
  return msg.Result;
}

// ---------------------------------------------------------------------------
// TcbHookList

TcbHookList* TcbHookList::Instance() noexcept { return hookList; }

TcbHookList::TcbHookList() {
  RegisterClassOnce(kListClass, &ListEntry);
  window_ = CreateHiddenWindow(kListClass, this);
}

TcbHookList::~TcbHookList() {
  if (window_ != nullptr) {
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
  }
}

bool TcbHookList::Contains(const TcbFormHookComponent* c) const noexcept {
  return std::find(items_.begin(), items_.end(), c) != items_.end();
}

void TcbHookList::Attach(TcbFormHookComponent* c) {
  items_.push_back(c);
  try {
    Hook(c);
  } catch (...) {
    // A component that could not be hooked must not stay in the chain.
    items_.erase(std::remove(items_.begin(), items_.end(), c), items_.end());
    Unhook(c);
    throw;
  }
}

void TcbHookList::Detach(TcbFormHookComponent* c) {
  if (!Contains(c)) {
    Unhook(c);
    return;
  }
  const WNDPROC base = GetBaseWndProc(c->FHookedWnd);
  items_.erase(std::remove(items_.begin(), items_.end(), c), items_.end());
  c->FHookActive = false;
  RebuildChain(c->FHookedWnd, base);
  Unhook(c);
}

void TcbHookList::Hook(TcbFormHookComponent* c) {
  if (c->FHookProc == nullptr) c->FHookProc = AcquireEntryPoint(c);
  c->FHookedWnd = c->GetFormHandle();
  const WNDPROC base = GetBaseWndProc(c->FHookedWnd);
  c->FHookActive = true;
  RebuildChain(c->FHookedWnd, base);
}

void TcbHookList::Unhook(TcbFormHookComponent* c) noexcept {
  if (c->FHookProc != nullptr) ReleaseEntryPoint(c->FHookProc);
  c->FHookProc = nullptr;
  c->FOldWndProc = nullptr;
  c->FHookActive = false;
}

WNDPROC TcbHookList::GetBaseWndProc(HWND wnd) const {
  for (TcbFormHookComponent* c : items_) {
    if (c->FHookActive && c->FHookedWnd == wnd && c->FOldWndProc != nullptr) return c->FOldWndProc;
  }
  return CurrentWndProc(wnd);
}

void TcbHookList::RebuildChain(HWND wnd, WNDPROC baseProc) {
  TcbFormHookComponent* previous = nullptr;
  for (TcbFormHookComponent* c : items_) {
    if (c->FHookedWnd != wnd) continue;
    c->FOldWndProc = previous == nullptr ? baseProc : previous->FHookProc;
    previous = c;
  }
  const WNDPROC top = previous != nullptr ? previous->FHookProc : baseProc;
  ::SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(top));
}

void TcbHookList::Rehook(HWND oldWnd) {
  if (items_.empty()) return;
  for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
    if ((*it)->FHookedWnd == oldWnd) Unhook(*it);
  }
  // Copy: a HookRestored handler may construct or free components.
  const std::vector<TcbFormHookComponent*> snapshot = items_;
  for (TcbFormHookComponent* c : snapshot) {
    if (!Contains(c) || c->FHookedWnd != oldWnd) continue;
    if (c->IsDestroying() || (c->FForm != nullptr && c->FForm->IsDestroying())) continue;
    Hook(c);
    c->HookRestored();
  }
}

LRESULT CALLBACK TcbHookList::ListEntry(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  auto* self = BindOnCreate<TcbHookList>(wnd, message, lParam);
  if (self != nullptr && message == WM_FORMHOOK_REHOOK) {
    try {
      self->Rehook(reinterpret_cast<HWND>(lParam));
    } catch (...) {
      Application().HandleCurrentException(self);
    }
    return 0;
  }
  return ::DefWindowProcW(wnd, message, wParam, lParam);
}

}  // namespace tarnwick
