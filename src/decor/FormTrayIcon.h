// A caption button that minimises its form into the notification area:
// a click adds an icon there and hides the form (for the main form, the
// application window and with it the task-bar button); clicking the icon
// or a popup-menu item brings the form back. The component owns the icon:
// it adds, changes and removes it, shows its tooltip and balloon, animates
// it through an image list, reports mouse activity and survives a restart
// of the shell.
#pragma once

// clang-format off
// windows.h first: the other system headers build on it.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
// clang-format on

#include <cstdint>
#include <functional>
#include <string>

#include "decor/CaptionButton.h"
#include "decor/TrayPopupMenu.h"
#include "decor/TrayRules.h"

namespace tarnwick {

enum class TWin2kInfoIcon { iiNone = 0, iiInfo = 1, iiWarning = 2, iiError = 3 };

struct TWin2kInfoBalloon {
  bool Enabled = false;
  TWin2kInfoIcon Icon = TWin2kInfoIcon::iiNone;
  std::wstring Text;
  std::wstring Title;
  std::uint16_t Timeout = 0;
};

using TMouseMoveEvent = std::function<void(TObject* sender, unsigned shift, int x, int y)>;
using TMouseEvent =
    std::function<void(TObject* sender, TrayMouseButton button, unsigned shift, int x, int y)>;

class TFormTrayIcon : public TCustomCaptionButton {
 public:
  explicit TFormTrayIcon(TComponent* owner);
  ~TFormTrayIcon() override;

  void Loaded() override;

  bool Animate() const noexcept { return animate_; }
  void SetAnimate(bool value);
  int AnimateInterval() const noexcept { return animateInterval_; }
  void SetAnimateInterval(int value);
  const std::wstring& Hint() const noexcept { return hint_; }
  void SetHint(const std::wstring& value);
  HICON Icon() const noexcept { return icon_.get(); }
  void SetIcon(HICON icon);  // copied
  HIMAGELIST ImageList() const noexcept { return imageList_; }
  void SetImageList(HIMAGELIST list);  // referenced, not owned
  int ImageIndex() const noexcept { return imageIndex_; }
  void SetImageIndex(int value);
  std::uint8_t Options() const noexcept { return options_; }
  void SetOptions(std::uint8_t value);
  TTrayPopupMenu* PopupMenu() const noexcept { return popupMenu_; }
  void SetPopupMenu(TTrayPopupMenu* menu);
  void SetPopupMenuRestoreItem(TTrayMenuItem* item);
  void SetPopupMenuTrayMinimizeItem(TTrayMenuItem* item);
  bool ShowHint() const noexcept { return showHint_; }
  void SetShowHint(bool value);
  bool Visible() const noexcept { return visible_; }
  void SetVisible(bool value);
  TWin2kInfoBalloon& Win2kInfoBalloon() noexcept { return balloon_; }

  virtual void MinimizeToTray();
  virtual void RestoreFromTray();
  virtual void ShowBalloon();

  HICON CurrentIcon() const noexcept { return currentIcon_.get(); }
  const NOTIFYICONDATAW& NotifyData() const noexcept { return FNotifyData; }
  bool AnimationTimerRunning() const noexcept { return timerRunning_; }

  TNotifyEvent OnAnimate, OnMinimize, OnClick, OnDblClick, OnPopupMenu, OnRestore, OnShow, OnHide;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseDown, OnMouseUp;

 protected:
  void Execute() override;
  void UtilityWndProc(THookMessage& msg) override;
  void Notification(TComponent* component, Operation operation) override;
  virtual void AppWndProc(THookMessage& msg);

 private:
  class AppHook;
  static constexpr UINT_PTR kAnimationTimer = 1;
  static HICON CopyIconOrNull(HICON icon);
  void BuildNotifyData(bool withBalloon);
  void AddIcon();
  void ModifyIcon();
  void DeleteIcon();
  void UpdateIconFromList();
  void RestartAnimation();
  void StopAnimation() noexcept;
  void ShowPopupMenu();
  void UseIconCopy();
  void HookApplication();
  void UnhookApplication() noexcept;
  void HandleTrayMouse(UINT mouseMessage);
  void SetItemStates(bool minimised);

  bool animate_ = false;
  int animateInterval_ = 200;
  std::wstring hint_;
  UniqueIcon icon_;
  HIMAGELIST imageList_ = nullptr;
  int imageIndex_ = 0;
  std::uint8_t options_ = kTrayDblClickRestore | kTrayShowAtDesignTime;
  TTrayPopupMenu* popupMenu_ = nullptr;
  TTrayMenuItem* restoreItem_ = nullptr;
  TTrayMenuItem* minimizeItem_ = nullptr;
  bool showHint_ = true;
  bool visible_ = false;
  TWin2kInfoBalloon balloon_;

  WNDPROC FOldAppWndProc = nullptr;
  WNDPROC FAppHookProc = nullptr;
  HWND hookedAppWnd_ = nullptr;
  std::unique_ptr<AppHook> appHook_;
  NOTIFYICONDATAW FNotifyData{};
  UniqueIcon currentIcon_;
  bool FLeftDown = false;
  std::function<void(TObject*)> FSavedRestoreClick;
  std::function<void(TObject*)> FSavedMinimizeClick;
  bool timerRunning_ = false;
  UINT taskbarCreated_ = 0;
};

}  // namespace tarnwick
