// What reaches a tray icon's utility window: the shell's mouse callbacks,
// the animation timer, the end of the session and a restarted shell.
#include "decor/FormAccess_win.h"
#include "decor/FormTrayIcon.h"
#include "ui/Application.h"

namespace tarnwick {

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
