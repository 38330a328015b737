// Property writes of the tray icon: icon state, pictures, animation and
// the popup-menu items it takes over.
#include "base/Exception.h"
#include "decor/FormAccess_win.h"
#include "decor/FormTrayIcon.h"

namespace tarnwick {

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
    // The form is never left hidden without an icon to bring it back, even
    // when this component goes away; a form that is itself going away is
    // not shown again.
    const bool formGoing = Form() == nullptr || Form()->IsDestroying();
    if (!formGoing && !FormVisible(Form())) RestoreFromTray();
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

}  // namespace tarnwick
