#include "decor/DecorResources_win.h"
#include "decor/FormAccess_win.h"
#include "decor/FormTrayIcon.h"
#include "ui/Application.h"

namespace tarnwick {
namespace {

template <std::size_t N>
void CopyField(wchar_t (&field)[N], const std::wstring& text) {
  const std::u16string fitted = FitTrayText(std::u16string(text.begin(), text.end()), N);
  std::size_t i = 0;
  for (; i < fitted.size(); ++i) field[i] = static_cast<wchar_t>(fitted[i]);
  field[i] = L'\0';
}

bool IsWin2000OrLater() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!::GetVersionExW(&info)) return false;
  return SupportsTrayBalloon(info.dwPlatformId, info.dwMajorVersion);
}

}  // namespace

HICON TFormTrayIcon::CopyIconOrNull(HICON icon) { return icon != nullptr ? ::CopyIcon(icon) : nullptr; }

// Entry point of the application window's procedure bound to the tray.
class TFormTrayIcon::AppHook final : public WndProcTarget {
 public:
  explicit AppHook(TFormTrayIcon& tray) : tray_(tray) {}
  LRESULT EntryDispatch(HWND, UINT message, WPARAM wParam, LPARAM lParam) noexcept override {
    THookMessage msg{message, wParam, lParam, 0};
    try {
      tray_.AppWndProc(msg);
    } catch (...) {
      Application().HandleCurrentException(&tray_);
    }
    return msg.Result;
  }

 private:
  TFormTrayIcon& tray_;
};

// ---------------------------------------------------------------------------
// Construction and destruction

TFormTrayIcon::TFormTrayIcon(TComponent* owner) : TCustomCaptionButton(owner) {
  SetGlyph(LoadDecorBitmap(L"CB_MINIMIZETOTRAY").get());
  CaptionButton().SetHint(L"Minimize to System Tray");
  Repaint();
  // Explorer broadcasts this after it (re)starts; the icon must be added
  // again then or it is gone for good.
  taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
  HookApplication();
  // Made outside a form definition there is no Loaded: pick the icon now.
  if (owner == nullptr || !owner->IsLoading()) UseIconCopy();
}

TFormTrayIcon::~TFormTrayIcon() {
  BeginDestroy();
  try {
    SetVisible(false);
  } catch (...) {
  }
  UnhookApplication();
  StopAnimation();
  SetPopupMenu(nullptr);
  SetPopupMenuRestoreItem(nullptr);
  SetPopupMenuTrayMinimizeItem(nullptr);
}

void TFormTrayIcon::UseIconCopy() {
  if (imageList_ != nullptr) return;
  HICON source = icon_.get();
  if (source == nullptr) {
    // The application's icon: the class icon of its window, else the form's.
    HWND app = Application().Handle();
    if (app != nullptr) source = reinterpret_cast<HICON>(::GetClassLongPtrW(app, GCLP_HICON));
    if (source == nullptr && HookedWnd() != nullptr)
      source = reinterpret_cast<HICON>(::GetClassLongPtrW(HookedWnd(), GCLP_HICON));
    if (source == nullptr) source = ::LoadIconW(nullptr, IDI_APPLICATION);
  }
  currentIcon_.reset(CopyIconOrNull(source));
  ModifyIcon();
}

void TFormTrayIcon::Loaded() {
  TCustomCaptionButton::Loaded();
  UseIconCopy();
  if (balloon_.Enabled) ShowBalloon();
}

// ---------------------------------------------------------------------------
// Shell calls

void TFormTrayIcon::BuildNotifyData(bool withBalloon) {
  const bool balloon = withBalloon && IsWin2000OrLater();
  FNotifyData = NOTIFYICONDATAW{};
  FNotifyData.cbSize = balloon ? sizeof(NOTIFYICONDATAW) : NOTIFYICONDATAW_V1_SIZE;
  FNotifyData.hWnd = UtilityWnd();
  FNotifyData.uID = 0;
  FNotifyData.uFlags = TrayRecordFlags(balloon, visible_);
  FNotifyData.uCallbackMessage = WM_TRAYICON_NOTIFY;
  FNotifyData.hIcon = currentIcon_.get();
  CopyField(FNotifyData.szTip, showHint_ ? hint_ : std::wstring());
  if (balloon) {
    CopyField(FNotifyData.szInfo, balloon_.Text);
    CopyField(FNotifyData.szInfoTitle, balloon_.Title);
    FNotifyData.uTimeout = balloon_.Timeout;
    FNotifyData.dwInfoFlags = static_cast<DWORD>(balloon_.Icon);
  }
}

void TFormTrayIcon::AddIcon() {
  BuildNotifyData(balloon_.Enabled);
  ::Shell_NotifyIconW(NIM_ADD, &FNotifyData);
}

void TFormTrayIcon::ModifyIcon() {
  BuildNotifyData(false);
  ::Shell_NotifyIconW(NIM_MODIFY, &FNotifyData);
}

void TFormTrayIcon::DeleteIcon() {
  BuildNotifyData(false);
  ::Shell_NotifyIconW(NIM_DELETE, &FNotifyData);
}

void TFormTrayIcon::ShowBalloon() {
  BuildNotifyData(true);
  ::Shell_NotifyIconW(NIM_MODIFY, &FNotifyData);
}

// ---------------------------------------------------------------------------
// Minimise and restore

void TFormTrayIcon::SetItemStates(bool minimised) {
  if (minimizeItem_ != nullptr) {
    minimizeItem_->Default = !minimised;
    minimizeItem_->Enabled = !minimised;
  }
  if (restoreItem_ != nullptr) {
    restoreItem_->Default = minimised;
    restoreItem_->Enabled = minimised;
  }
}

void TFormTrayIcon::Execute() {
  TCustomCaptionButton::Execute();
  MinimizeToTray();
}

void TFormTrayIcon::MinimizeToTray() {
  SetVisible(true);
  if (Application().Terminated()) return;
  HWND app = Application().Handle();
  if (app != nullptr && IsApplicationMainForm(Form()))
    ::ShowWindow(app, SW_HIDE);  // takes the task-bar button with it
  else
    ::ShowWindow(HookedWnd(), SW_HIDE);
  SetFormVisible(Form(), false);
  SetItemStates(true);
  if (OnMinimize) OnMinimize(this);
}

void TFormTrayIcon::RestoreFromTray() {
  if (Application().Terminated()) return;
  HWND app = Application().Handle();
  if (app != nullptr && IsApplicationMainForm(Form())) {
    ::ShowWindow(app, SW_SHOWNORMAL);
    ::SetForegroundWindow(app);
  } else {
    ::ShowWindow(HookedWnd(), SW_RESTORE);
    ::SetForegroundWindow(HookedWnd());
  }
  SetFormVisible(Form(), true);
  // The form came back without activation (the application window took the
  // foreground while the form was still hidden): the user expects to type
  // into it at once.
  ActivateForm(Form());
  if (options_ & kTrayHideOnRestore) SetVisible(false);
  SetItemStates(false);
  if (OnRestore) OnRestore(this);
}

// ---------------------------------------------------------------------------
// Application window hook

void TFormTrayIcon::HookApplication() {
  HWND app = Application().Handle();
  if (app == nullptr) return;
  appHook_ = std::make_unique<AppHook>(*this);
  FAppHookProc = AcquireEntryPoint(appHook_.get());
  hookedAppWnd_ = app;
  FOldAppWndProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(app, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FAppHookProc)));
}

namespace {
// Stands in for a tray component that went away while another one still
// sits above it in the application window's chain: that one calls our entry
// point, which must keep leading to the procedure below us. Lives as long
// as the process; there is one per such out-of-order destruction at most.
class PassThrough final : public WndProcTarget {
 public:
  explicit PassThrough(WNDPROC next) : next_(next) {}
  LRESULT EntryDispatch(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept override {
    return ::CallWindowProcW(next_, wnd, msg, wParam, lParam);
  }

 private:
  WNDPROC next_;
};
}  // namespace

void TFormTrayIcon::UnhookApplication() noexcept {
  if (FAppHookProc == nullptr) return;
  const bool onTop =
      reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hookedAppWnd_, GWLP_WNDPROC)) == FAppHookProc;
  if (!::IsWindow(hookedAppWnd_) || onTop) {
    if (onTop) ::SetWindowLongPtrW(hookedAppWnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FOldAppWndProc));
    ReleaseEntryPoint(FAppHookProc);
  } else {
    // Someone hooked the window after us and still calls our entry point:
    // rebind it to pass straight through instead of cutting the chain.
    RebindEntryPoint(FAppHookProc, new PassThrough(FOldAppWndProc));
  }
  FAppHookProc = nullptr;
  FOldAppWndProc = nullptr;
}

void TFormTrayIcon::AppWndProc(THookMessage& msg) {
  if (msg.Msg == WM_SIZE && msg.WParam == SIZE_MINIMIZED && (options_ & kTrayMinimizeToTray) != 0 &&
      IsApplicationMainForm(Form())) {
    MinimizeToTray();
  }
  msg.Result = ::CallWindowProcW(FOldAppWndProc, hookedAppWnd_, msg.Msg, msg.WParam, msg.LParam);
}

}  // namespace tarnwick
