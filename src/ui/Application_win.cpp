#include "ui/Application.h"

#include <commctrl.h>

#include <stdexcept>

#include "base/TextCodec.h"
#include "ui/Form.h"
#include "ui/OSError.h"

namespace tarnwick {

TApplication& Application() {
  // Deliberately never destroyed by a static destructor: the forms it owns
  // are freed by ~TApplication when the program calls it, or by the system.
  static TApplication* app = new TApplication();
  return *app;
}

TApplication::TApplication() : TComponent(nullptr), title_(L"") {}

TApplication::~TApplication() {
  BeginDestroy();
  if (handle_ != nullptr) ::DestroyWindow(handle_);
}

void TApplication::Initialize(HINSTANCE instance) {
  if (handle_ != nullptr) return;
  instance_ = instance != nullptr ? instance : ::GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&icc);
  window_class::RegisterAll(instance_);

  WNDCLASSEXW wc{};
  if (!::GetClassInfoExW(instance_, window_class::Application, &wc)) {
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &TApplication::AppWndProc;
    wc.hInstance = instance_;
    wc.hIcon = ::LoadIconW(instance_, MAKEINTRESOURCEW(1));
    if (wc.hIcon == nullptr) wc.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    wc.lpszClassName = window_class::Application;
    if (::RegisterClassExW(&wc) == 0) RaiseLastOSError("RegisterClassExW");
  }
  // A zero-sized window with a caption: it carries the task-bar button and
  // owns the main form, which therefore has no button of its own.
  handle_ = ::CreateWindowExW(0, window_class::Application, title_.c_str(),
                              WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                              ::GetSystemMetrics(SM_CXSCREEN) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0,
                              nullptr, nullptr, instance_, this);
  if (handle_ == nullptr) RaiseLastOSError("CreateWindowExW");
}

void TApplication::SetTitle(const std::wstring& title) {
  title_ = title;
  if (handle_ != nullptr) ::SetWindowTextW(handle_, title_.c_str());
}

TForm* TApplication::ActiveForm() const noexcept {
  HWND active = ::GetActiveWindow();
  return dynamic_cast<TForm*>(TWinControl::FromHandle(active));
}

TWinControl* TApplication::ActiveControl() const noexcept {
  // The focus may sit in a window inside one of ours (an edit inside a
  // combined control); the nearest control of ours is the answer.
  for (HWND w = ::GetFocus(); w != nullptr; w = ::GetParent(w)) {
    if (TWinControl* control = TWinControl::FromHandle(w)) return control;
  }
  return nullptr;
}

void TApplication::AdoptForm(TForm* form) {
  if (mainForm_ == nullptr) mainForm_ = form;
}

void TApplication::Notification(TComponent* component, Operation operation) {
  if (operation == Operation::Remove && component == mainForm_) mainForm_ = nullptr;
  TComponent::Notification(component, operation);
}

void TApplication::FormDestroyed(TForm* form) noexcept {
  pendingRelease_.erase(form);
  if (form == mainForm_) mainForm_ = nullptr;
}

void TApplication::Run() {
  if (mainForm_ != nullptr) {
    ::ShowWindow(handle_, SW_SHOWNOACTIVATE);
    mainForm_->Show();
  }
  while (!terminated_) {
    if (!HandleMessage()) break;
  }
}

bool TApplication::HandleMessage() {
  MSG msg{};
  BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
  if (got == 0 || got == -1) {
    terminated_ = true;
    return false;
  }
  if (!PreTranslate(msg)) DispatchGuarded(msg);
  return true;
}

void TApplication::ProcessMessages() {
  MSG msg{};
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      // Leave the quit for the loop that owns the program's end.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (!PreTranslate(msg)) DispatchGuarded(msg);
  }
}

void TApplication::Minimize() {
  if (handle_ == nullptr || ::IsIconic(handle_)) return;
  ::ShowWindow(handle_, SW_MINIMIZE);
  // Owned windows follow their owner; hide the main form explicitly too, so
  // it does not depend on how the window manager treats owned windows.
  if (mainForm_ != nullptr && mainForm_->HandleAllocated()) ::ShowWindow(mainForm_->Handle(), SW_HIDE);
}

void TApplication::Restore() {
  if (handle_ == nullptr) return;
  if (::IsIconic(handle_)) ::ShowWindow(handle_, SW_RESTORE);
  if (mainForm_ != nullptr && mainForm_->Visible()) {
    ::ShowWindow(mainForm_->Handle(), SW_SHOW);
    ::SetForegroundWindow(mainForm_->Handle());
  }
}

void TApplication::Terminate() noexcept {
  if (terminated_) return;
  terminated_ = true;
  ::PostQuitMessage(0);
}

bool TApplication::PreTranslate(MSG& msg) {
  if (msg.hwnd == nullptr) return false;
  HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
  auto* form = dynamic_cast<TForm*>(TWinControl::FromHandle(root));
  if (form == nullptr) return false;
  try {
    if (msg.message == WM_SYSCHAR && form->HandleMnemonic(static_cast<char32_t>(msg.wParam))) return true;
  } catch (...) {
    HandleCurrentException(form);
    return true;
  }
  return ::IsDialogMessageW(root, &msg) != FALSE;
}

void TApplication::DispatchGuarded(MSG& msg) noexcept {
  // Window procedures guard themselves; this covers timer callbacks and the
  // translation step.
  try {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  } catch (...) {
    HandleCurrentException(nullptr);
  }
}

void TApplication::ReleaseForm(TForm* form) {
  if (form == nullptr) return;
  pendingRelease_.insert(form);
  if (handle_ == nullptr || !::PostMessageW(handle_, WM_TARNWICK_RELEASE, 0, reinterpret_cast<LPARAM>(form))) {
    pendingRelease_.erase(form);
    delete form;
  }
}

void TApplication::HandleException(TObject* sender, const std::exception& error) noexcept {
  try {
    if (OnException) {
      OnException(sender, error);
      return;
    }
  } catch (...) {
    // A failing handler must not take the loop down; fall back to the box.
  }
  try {
    std::wstring text = Utf8ToWide(error.what());
    HWND owner = ::GetActiveWindow();
    ::MessageBoxW(owner, text.c_str(), title_.c_str(), MB_OK | MB_ICONERROR | MB_TASKMODAL);
  } catch (...) {
  }
}

void TApplication::HandleCurrentException(TObject* sender) noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    HandleException(sender, e);
  } catch (...) {
    HandleException(sender, std::runtime_error("unknown exception"));
  }
}

LRESULT CALLBACK TApplication::AppWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    if (auto* app = static_cast<TApplication*>(cs->lpCreateParams)) app->handle_ = wnd;
  }
  auto* self = reinterpret_cast<TApplication*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(wnd, msg, wParam, lParam);
  return self->Guard(
      self, [&]() -> LRESULT { return self->WndProc(msg, wParam, lParam); }, LRESULT{0});
}

LRESULT TApplication::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_TARNWICK_RELEASE: {
      auto* form = reinterpret_cast<TForm*>(lParam);
      // Only forms still waiting are deleted; one freed meanwhile (with its
      // owner, say) has left the set.
      if (pendingRelease_.erase(form) != 0) delete form;
      return 0;
    }
    case WM_CLOSE:
      // Closing the task-bar button closes the main form.
      if (mainForm_ != nullptr)
        mainForm_->Close();
      else
        Terminate();
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_RESTORE) {
        Restore();
        return 0;
      }
      break;
    case WM_ACTIVATE:
      // A click on the task-bar button activates us; pass it on to the
      // main form, which is what the user sees.
      if (LOWORD(wParam) != WA_INACTIVE && mainForm_ != nullptr && mainForm_->HandleAllocated() &&
          ::IsWindowVisible(mainForm_->Handle()) && ::IsWindowEnabled(mainForm_->Handle())) {
        ::SetActiveWindow(mainForm_->Handle());
        return 0;
      }
      break;
    case WM_NCDESTROY: {
      LRESULT r = ::DefWindowProcW(handle_, msg, wParam, lParam);
      ::SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
      handle_ = nullptr;
      return r;
    }
    default:
      break;
  }
  return ::DefWindowProcW(handle_, msg, wParam, lParam);
}

}  // namespace tarnwick
