// A button painted into the owner form's title bar, left of the standard
// buttons, with its own hit testing, pressed and toggled looks, cursors,
// tooltip and an optional mirror item in the system menu. The class does
// nothing on a click by itself; descendants supply the action and picture.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "decor/CaptionLayout.h"
#include "decor/cbClasses.h"
#include "ui/Handle.h"

namespace tarnwick {

class TCustomCaptionButton;
using TNotifyEvent = std::function<void(TObject* sender)>;

// Published settings of the title-bar button itself.
class TACaptionButton : public TObject {
 public:
  explicit TACaptionButton(TCustomCaptionButton& button) : button_(button) {}
  int GetBtnOrder() const;
  void SetBtnOrder(int value);
  int GetCursor() const;
  void SetCursor(int value);
  int GetCursorDown() const;
  void SetCursorDown(int value);
  bool GetEnabled() const;
  void SetEnabled(bool value);
  const std::wstring& GetHint() const;
  void SetHint(const std::wstring& value);
  int GetSeparatorWidth() const;
  void SetSeparatorWidth(int value);
  bool GetShowHint() const;
  void SetShowHint(bool value);
  bool GetVisible() const;
  void SetVisible(bool value);

 private:
  TCustomCaptionButton& button_;
};

struct TMenuSeparators {
  bool before = false;  // seBefore
  bool after = false;   // seAfter
  bool operator==(const TMenuSeparators& o) const { return before == o.before && after == o.after; }
  bool operator!=(const TMenuSeparators& o) const { return !(*this == o); }
};

// The button's mirror item in the form's system menu.
class TSystemMenu : public TObject {
 public:
  explicit TSystemMenu(TCustomCaptionButton& button) : button_(button) {}
  bool GetApplyToMenu() const noexcept { return applyToMenu_; }
  void SetApplyToMenu(bool value);
  const std::wstring& GetCaption() const noexcept { return caption_; }
  void SetCaption(const std::wstring& value);
  int GetPosition() const noexcept { return position_; }
  void SetPosition(int value);
  TMenuSeparators GetSeparators() const noexcept { return separators_; }
  void SetSeparators(TMenuSeparators value);
  bool Inserted() const noexcept { return FInserted; }

  void Apply();
  void Remove();
  void Reapply();
  void SetChecked(bool checked);

 private:
  TCustomCaptionButton& button_;
  bool applyToMenu_ = false;
  std::wstring caption_;
  std::uint16_t position_ = 0;
  TMenuSeparators separators_;
  bool FInserted = false;
};

class TCustomCaptionButton : public TcbFormHookComponent {
 public:
  explicit TCustomCaptionButton(TComponent* owner);
  ~TCustomCaptionButton() override;

  TACaptionButton& CaptionButton() noexcept { return *captionButton_; }
  TSystemMenu& SystemMenu() noexcept { return *systemMenu_; }

  void Loaded() override;

  bool Down() const noexcept { return FDown; }
  void SetDown(bool value);
  bool AllowToggle() const noexcept { return FAllowToggle; }
  void SetAllowToggle(bool value);
  // Copies the picture of `bitmap` (null clears it).
  void SetGlyph(HBITMAP bitmap);
  void SetGlyphDown(HBITMAP bitmap);
  HBITMAP Glyph() const noexcept { return FGlyph.get(); }
  void SetGlyphChar(wchar_t c);
  void SetGlyphTransparent(bool value);

  void Repaint();
  void Paint(bool downLook);
  void Relayout(bool refresh);
  void MoveTo(int newOrder);

  void AddTool();
  void UpdateTool();
  void DeleteTool();

  int ButtonId() const noexcept { return FButtonId; }
  int RightOffset() const noexcept { return FRightOffset; }
  bool Pressed() const noexcept { return FPressed; }
  bool DrawnDown() const noexcept { return FDrawnDown; }
  bool ToolAdded() const noexcept { return FToolAdded; }
  const ButtonPlacement& ButtonRect() const noexcept { return FButtonRect; }
  // Where the tooltip tool currently reacts, in client coordinates.
  ToolRect ToolArea() const noexcept { return toolArea_; }
  // The one tooltip window of the process (null when none could be made).
  static HWND TooltipWindow() noexcept;

  TNotifyEvent OnButtonClick, OnMenuClick, OnExecute, OnButtonDown, OnButtonUp;

 protected:
  void BeforeHookedMessage(THookMessage& msg, bool& handled) override;
  void AfterHookedMessage(THookMessage& msg) override;
  void HookRestored() override;
  void UtilityWndProc(THookMessage& msg) override;

  virtual void BeforeButtonClick();
  virtual void ButtonClick();
  virtual void BeforeMenuClick();
  virtual void MenuClick();
  virtual void Execute();
  virtual void ButtonDown();
  virtual void ButtonUp();

 private:
  friend class TACaptionButton;
  friend class TSystemMenu;
  void ReleasePress();
  void SetCursorFor(int cursorId);
  int CaptionBand();
  void PaintCharacter(HDC dc, bool downLook);
  void PaintGlyph(HDC dc, bool downLook);

  bool FAllowToggle = false;
  int FPendingOrder = -1;
  std::unique_ptr<TACaptionButton> captionButton_;
  int FCursor = 0;
  int FCursorDown = 0;
  bool FDown = false;
  bool FEnabled = true;
  UniqueBitmap FGlyph;
  UniqueBitmap FGlyphDown;
  bool FGlyphTransparent = true;
  std::wstring FHint;
  std::uint8_t FSeparatorWidth = 0;
  bool FShowHint = true;
  wchar_t FGlyphChar = L'A';
  std::wstring fontName_ = L"Arial";
  int fontColorIndex_ = COLOR_BTNTEXT;  // a system colour, read when painting
  int FTextOffsetX = 0;
  int FTextOffsetY = 0;
  std::unique_ptr<TSystemMenu> systemMenu_;
  bool FVisible = true;
  bool FToolAdded = false;
  int FButtonId = 0;
  int toolId_ = 0;
  HWND toolWnd_ = nullptr;  // the window the tool was added for
  int FRightOffset = 0;
  bool FPressed = false;
  bool FDrawnDown = false;
  ButtonPlacement FButtonRect;
  ToolRect toolArea_;
};

}  // namespace tarnwick
