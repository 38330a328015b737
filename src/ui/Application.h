// The application object: the hidden window that carries the task-bar
// button, the forms it owns, the message loop and the error hook that every
// window procedure and the loop itself report escaping exceptions to.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "ui/Component.h"

namespace tarnwick {

class TForm;
class TWinControl;

// Receives an exception that escaped a message handler. `sender` is the
// component whose handler raised it, or null when it is not known.
using ExceptionHandler = std::function<void(TObject* sender, const std::exception& error)>;

class TApplication : public TComponent {
 public:
  TApplication();
  ~TApplication() override;

  // Registers the window classes and creates the hidden application
  // window. Safe to call more than once.
  void Initialize(HINSTANCE instance = nullptr);
  HINSTANCE Instance() const noexcept { return instance_; }
  HWND Handle() const noexcept { return handle_; }

  const std::wstring& Title() const noexcept { return title_; }
  void SetTitle(const std::wstring& title);

  // Creates a form owned by the application; the first one created becomes
  // the main form, whose closing ends Run().
  template <typename F, typename... Args>
  F* CreateForm(Args&&... args) {
    auto* form = new F(this, std::forward<Args>(args)...);
    AdoptForm(form);
    return form;
  }
  TForm* MainForm() const noexcept { return mainForm_; }
  // The form whose window is active and the control that has the keyboard
  // focus, when they are ours; null otherwise. Error reports name them.
  TForm* ActiveForm() const noexcept;
  TWinControl* ActiveControl() const noexcept;

  // Shows the main form and runs the message loop until Terminate() or the
  // main form closes.
  void Run();
  // Handles every message already queued, then returns.
  void ProcessMessages();
  // Handles one message; false once WM_QUIT has been seen.
  bool HandleMessage();
  void Terminate() noexcept;
  // Minimising the main form minimises the application window (and with it
  // the task-bar button's windows); restoring brings the main form back.
  void Minimize();
  void Restore();
  // Frees every form now (the last created first); the program calls this
  // when its loop has ended.
  void DestroyForms() noexcept { DestroyComponents(); }
  bool Terminated() const noexcept { return terminated_; }
  // Lets one process run the loop again after it ended (in-process tests
  // that close several main windows).
  void ClearTerminated() noexcept { terminated_ = false; }

  // Deletes `form` once the messages already queued (for it or anyone) are
  // handled, so a form may release itself from its own handler.
  void ReleaseForm(TForm* form);

  // The single place escaping exceptions go. Never throws.
  void HandleException(TObject* sender, const std::exception& error) noexcept;
  // For catch (...) blocks: reports the current exception.
  void HandleCurrentException(TObject* sender) noexcept;
  ExceptionHandler OnException;

  // Runs `body` and reports what escapes it; the value returned then is
  // `fallback`. Window procedures use this so that no exception crosses a
  // Win32 frame.
  template <typename Body, typename Result>
  Result Guard(TObject* sender, Body&& body, Result fallback) noexcept {
    try {
      return body();
    } catch (...) {
      HandleCurrentException(sender);
    }
    return fallback;
  }

  // Used by TForm: bookkeeping of live forms.
  void FormDestroyed(TForm* form) noexcept;

 protected:
  void Notification(TComponent* component, Operation operation) override;

 private:
  void AdoptForm(TForm* form);
  // Keyboard interface of the form that owns msg.hwnd: Alt accelerators,
  // Tab and arrow navigation. True when the message was consumed.
  bool PreTranslate(MSG& msg);
  void DispatchGuarded(MSG& msg) noexcept;
  static LRESULT CALLBACK AppWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);

  HINSTANCE instance_ = nullptr;
  HWND handle_ = nullptr;
  std::wstring title_;
  TForm* mainForm_ = nullptr;
  bool terminated_ = false;
  std::set<TForm*> pendingRelease_;
};

// The process's application object, created on first use.
TApplication& Application();

// Private messages of the application window.
constexpr UINT WM_TARNWICK_RELEASE = WM_APP + 0x100;  // lParam: TForm* to delete

}  // namespace tarnwick
