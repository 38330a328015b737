#include "decor/FormTrayIcon.h"

#include "base/Exception.h"
#include "decor/DecorResources_win.h"
#include "decor/FormAccess_win.h"
#include "ui/Application.h"

namespace tarnwick {
namespace {

constexpr UINT_PTR kAnimationTimer = 1;

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

HICON CopyIconOrNull(HICON icon) { return icon != nullptr ? ::CopyIcon(icon) : nullptr; }

}  // namespace

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
// Properties

void TFormTrayIcon::SetVisible(bool value) {
  if (IsLoading() && (options_ & kTrayHideOnRestore) != 0) return;
  if (value == visible_) return;
  visible_ = value;
  if (value) {
    AddIcon();
    if (OnShow) OnShow(this);
  } else {
    DeleteIcon();
    if (OnHide) OnHide(this);
    // The form is never left hidden without an icon to bring it back.
    if (!IsDestroying() && !FormVisible(Form())) RestoreFromTray();
  }
}

void TFormTrayIcon::SetHint(const std::wstring& value) {
  if (value == hint_) return;
  hint_ = value;
  ModifyIcon();
}

void TFormTrayIcon::SetShowHint(bool value) {
  if (value == showHint_) return;
  showHint_ = value;
  ModifyIcon();
}

void TFormTrayIcon::SetIcon(HICON icon) {
  icon_.reset(CopyIconOrNull(icon));
  if (imageList_ == nullptr) {
    currentIcon_.reset(CopyIconOrNull(icon_.get()));
    ModifyIcon();
  }
}

void TFormTrayIcon::SetImageList(HIMAGELIST list) {
  imageList_ = list;
  if (list != nullptr) {
    UpdateIconFromList();
  } else {
    currentIcon_.reset(CopyIconOrNull(icon_.get()));
    ModifyIcon();
    animate_ = false;
  }
  RestartAnimation();
}

void TFormTrayIcon::SetImageIndex(int value) {
  if (value == imageIndex_) return;
  imageIndex_ = value;
  UpdateIconFromList();
}

void TFormTrayIcon::SetAnimate(bool value) {
  if (value == animate_) return;
  animate_ = value;
  RestartAnimation();
}

void TFormTrayIcon::SetAnimateInterval(int value) {
  value &= 0xFFFF;
  if (value == animateInterval_) return;
  animateInterval_ = value;
  RestartAnimation();
}

void TFormTrayIcon::SetOptions(std::uint8_t value) { options_ = value; }

void TFormTrayIcon::SetPopupMenu(TTrayPopupMenu* menu) {
  if (popupMenu_ != nullptr && popupMenu_ != menu) RemoveFreeNotification(popupMenu_);
  popupMenu_ = menu;
  if (menu != nullptr) FreeNotification(menu);
}

void TFormTrayIcon::SetPopupMenuRestoreItem(TTrayMenuItem* item) {
  if (restoreItem_ != nullptr) restoreItem_->OnClick = FSavedRestoreClick;
  FSavedRestoreClick = nullptr;
  restoreItem_ = item;
  if (item == nullptr) return;
  FreeNotification(&item->Menu);
  FSavedRestoreClick = item->OnClick;
  item->OnClick = [this](TObject*) {
    if (FSavedRestoreClick) FSavedRestoreClick(restoreItem_);
    RestoreFromTray();
  };
}

void TFormTrayIcon::SetPopupMenuTrayMinimizeItem(TTrayMenuItem* item) {
  if (minimizeItem_ != nullptr) minimizeItem_->OnClick = FSavedMinimizeClick;
  FSavedMinimizeClick = nullptr;
  minimizeItem_ = item;
  if (item == nullptr) return;
  FreeNotification(&item->Menu);
  FSavedMinimizeClick = item->OnClick;
  item->OnClick = [this](TObject*) {
    if (FSavedMinimizeClick) FSavedMinimizeClick(minimizeItem_);
    MinimizeToTray();
  };
}

void TFormTrayIcon::Notification(TComponent* component, Operation operation) {
  TCustomCaptionButton::Notification(component, operation);
  if (operation != Operation::Remove) return;
  if (component == popupMenu_) popupMenu_ = nullptr;
  // Items die with their menu; nothing may be restored into them.
  if (restoreItem_ != nullptr && &restoreItem_->Menu == component) {
    restoreItem_ = nullptr;
    FSavedRestoreClick = nullptr;
  }
  if (minimizeItem_ != nullptr && &minimizeItem_->Menu == component) {
    minimizeItem_ = nullptr;
    FSavedMinimizeClick = nullptr;
  }
}

// ---------------------------------------------------------------------------
// Icon pictures and animation

void TFormTrayIcon::UpdateIconFromList() {
  if (imageList_ == nullptr) return;
  currentIcon_.reset(ImageList_GetIcon(imageList_, imageIndex_, ILD_NORMAL));
  ModifyIcon();
}

void TFormTrayIcon::StopAnimation() noexcept {
  if (UtilityWnd() != nullptr) ::KillTimer(UtilityWnd(), kAnimationTimer);
  timerRunning_ = false;
}

void TFormTrayIcon::RestartAnimation() {
  StopAnimation();
  if (!animate_ || animateInterval_ <= 0 || imageList_ == nullptr) return;
  SetImageIndex(0);
  if (::SetTimer(UtilityWnd(), kAnimationTimer, static_cast<UINT>(animateInterval_), nullptr) == 0)
    throw Exception("EOutOfResources", "No timers");
  timerRunning_ = true;
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

void TFormTrayIcon::UnhookApplication() noexcept {
  if (FAppHookProc == nullptr) return;
  if (::IsWindow(hookedAppWnd_))
    ::SetWindowLongPtrW(hookedAppWnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FOldAppWndProc));
  ReleaseEntryPoint(FAppHookProc);
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

// ---------------------------------------------------------------------------
// Utility window: shell callbacks, timer, end of session

void TFormTrayIcon::UtilityWndProc(THookMessage& msg) {
  TCustomCaptionButton::UtilityWndProc(msg);
  if (msg.Msg == WM_TRAYICON_NOTIFY) {
    HandleTrayMouse(static_cast<UINT>(msg.LParam));
  } else if (msg.Msg == WM_QUERYENDSESSION) {
    SetVisible(false);  // the answer stays 1
  } else if (msg.Msg == WM_TIMER && msg.WParam == kAnimationTimer) {
    const int count = imageList_ != nullptr ? ImageList_GetImageCount(imageList_) : 0;
    SetImageIndex(NextTrayImageIndex(imageIndex_, count));
  } else if (taskbarCreated_ != 0 && msg.Msg == taskbarCreated_) {
    if (visible_) AddIcon();
  }
}

void TFormTrayIcon::HandleTrayMouse(UINT mouseMessage) {
  POINT p{};
  ::GetCursorPos(&p);
  const unsigned keys = TrayShiftFromKeys(::GetKeyState(VK_SHIFT) < 0, ::GetKeyState(VK_CONTROL) < 0,
                                          ::GetKeyState(VK_MENU) < 0);
  TrayState state;
  state.leftDown = FLeftDown;
  state.formVisible = FormVisible(Form());
  state.options = options_;
  state.popupMenuSet = popupMenu_ != nullptr && popupMenu_->AutoPopup;
  state.popupHasDefaultItem = popupMenu_ != nullptr && popupMenu_->DefaultItem() != nullptr;
  const TrayReaction r = ReactToTrayMouse(mouseMessage, state);
  FLeftDown = r.leftDownAfter;
  if (r.setForegroundApp && Application().Handle() != nullptr) ::SetForegroundWindow(Application().Handle());
  switch (r.event) {
    case TrayMouseEvent::Move:
      if (OnMouseMove) OnMouseMove(this, keys, p.x, p.y);
      break;
    case TrayMouseEvent::Down:
      if (OnMouseDown) OnMouseDown(this, r.button, keys | r.shiftAdd, p.x, p.y);
      break;
    case TrayMouseEvent::Up:
      if (OnMouseUp) OnMouseUp(this, r.button, keys | r.shiftAdd, p.x, p.y);
      break;
    case TrayMouseEvent::None:
      break;
  }
  if (r.raiseClick && OnClick) OnClick(this);
  if (r.raiseDblClick && OnDblClick) OnDblClick(this);
  if (r.clickDefaultItem) {
    if (TTrayMenuItem* item = popupMenu_ != nullptr ? popupMenu_->DefaultItem() : nullptr) item->Click();
    return;
  }
  if (r.showPopup) ShowPopupMenu();
  if (r.restore) RestoreFromTray();
  if (r.minimize) MinimizeToTray();
}

void TFormTrayIcon::ShowPopupMenu() {
  if (popupMenu_ == nullptr || !popupMenu_->AutoPopup) return;
  POINT p{};
  ::GetCursorPos(&p);
  Application().ProcessMessages();
  ::SetForegroundWindow(HookedWnd());
  popupMenu_->Popup(HookedWnd(), p.x, p.y);
  // Without a message after the menu, a second popup may not close.
  ::PostMessageW(HookedWnd(), WM_NULL, 0, 0);
  if (OnPopupMenu) OnPopupMenu(this);
}

}  // namespace tarnwick
