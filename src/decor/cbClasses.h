// The hook framework of the title-bar decorations. A TcbFormHookComponent
// sees every message of its owner form's window before and after the form
// handles it; TcbHookList keeps one chain per window over all such
// components and moves the chain to a new window when the form's window is
// recreated. Each component also owns a hidden utility window for deferred
// work, timers and notification-area callbacks.
#pragma once

#include <windows.h>

#include <vector>

#include "decor/DecorMessages.h"
#include "decor/EntryPoints_win.h"
#include "ui/Component.h"

namespace tarnwick {

// A window message as the hooks see it; handlers may change the number and
// the result.
struct THookMessage {
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

class TcbHookList;

class TcbFormHookComponent : public TComponent, protected WndProcTarget {
 public:
  // `owner` must be a form: its window is hooked at once, created if needed.
  explicit TcbFormHookComponent(TComponent* owner);
  ~TcbFormHookComponent() override;

  virtual void BeforeHookedMessage(THookMessage& msg, bool& handled);
  virtual void AfterHookedMessage(THookMessage& msg);
  virtual void HookRestored();
  virtual void UtilityWndProc(THookMessage& msg);
  virtual HWND GetFormHandle();
  virtual HMENU GetSystemMenuHandle();

  // Makes the window recompute and repaint its frame.
  void RefreshFrame();
  LONG GetFormStyle() const;
  LONG GetFormExStyle() const;

  bool GetTopmost() const;
  void SetTopmost(bool value);

  TComponent* Form() const noexcept { return FForm; }
  HWND HookedWnd() const noexcept { return FHookedWnd; }
  HWND UtilityWnd() const noexcept { return FUtilityWnd; }
  WNDPROC OldWndProc() const noexcept { return FOldWndProc; }
  WNDPROC HookProc() const noexcept { return FHookProc; }
  bool HookActive() const noexcept { return FHookActive; }

 private:
  friend class TcbHookList;
  LRESULT EntryDispatch(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept override;
  static LRESULT CALLBACK UtilityEntry(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;

  bool FHookActive = false;
  bool FTopmostCache = false;
  TComponent* FForm;
  HWND FUtilityWnd = nullptr;
  HWND FHookedWnd = nullptr;
  WNDPROC FOldWndProc = nullptr;
  WNDPROC FHookProc = nullptr;
};

// The process-wide list of hooking components, in order of construction.
class TcbHookList : public TObject {
 public:
  // The list while at least one hooking component lives, else null.
  static TcbHookList* Instance() noexcept;

  void Attach(TcbFormHookComponent* c);
  void Detach(TcbFormHookComponent* c);
  void Hook(TcbFormHookComponent* c);
  void Unhook(TcbFormHookComponent* c) noexcept;
  WNDPROC GetBaseWndProc(HWND wnd) const;
  void RebuildChain(HWND wnd, WNDPROC baseProc);

  bool Contains(const TcbFormHookComponent* c) const noexcept;
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  TcbFormHookComponent* Items(int index) const { return items_.at(static_cast<std::size_t>(index)); }
  HWND Window() const noexcept { return window_; }

 private:
  friend class TcbFormHookComponent;
  TcbHookList();
  ~TcbHookList() override;
  static LRESULT CALLBACK ListEntry(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
  void Rehook(HWND oldWnd);

  std::vector<TcbFormHookComponent*> items_;
  HWND window_ = nullptr;
};

}  // namespace tarnwick
