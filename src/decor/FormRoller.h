// A caption button that rolls its form up like a window shade, leaving the
// title bar (and an optional strip of the client area) visible, and rolls
// it down again. The client height shrinks and grows in animated frames;
// while rolled up the window is clipped with a region, shows a raised
// border under the strip and cannot be resized with the mouse.
#pragma once

#include <functional>
#include <string>

#include "decor/CaptionButton.h"
#include "decor/RollerFrames.h"

namespace tarnwick {

using TFormRollerChangedEvent = std::function<void(TObject* sender, bool rollUp)>;

class TFormRoller : public TCustomCaptionButton {
 public:
  explicit TFormRoller(TComponent* owner);
  ~TFormRoller() override;

  bool Animate() const noexcept { return animate_; }
  void SetAnimate(bool value) noexcept { animate_ = value; }
  int AnimateSpeed() const noexcept { return animateSpeed_; }
  void SetAnimateSpeed(int value) noexcept;
  const std::wstring& HintRollUp() const noexcept { return hintRollUp_; }
  void SetHintRollUp(const std::wstring& value);
  const std::wstring& HintRollDown() const noexcept { return hintRollDown_; }
  void SetHintRollDown(const std::wstring& value);
  int RemainHeight() const noexcept { return remainHeight_; }
  void SetRemainHeight(int value);
  bool RollUp() const noexcept { return rollUp_; }
  void SetRollUp(bool value);

  // Window pixels from the top that stay visible when rolled up.
  int RolledHeight();
  bool Busy() const noexcept { return FBusy; }
  HRGN Region() const noexcept { return FRegion; }

  TFormRollerChangedEvent OnRollerChanged;

 protected:
  void Execute() override;
  void AfterHookedMessage(THookMessage& msg) override;
  void HookRestored() override;

 private:
  void ApplyRegion();
  void DrawRolledBorder();
  void Animate(const std::vector<int>& frames);

  bool animate_ = true;
  int animateSpeed_ = 8;
  std::wstring hintRollUp_;
  std::wstring hintRollDown_;
  int remainHeight_ = 0;
  bool rollUp_ = false;
  bool FBusy = false;
  int FSavedClientHeight = 0;
  HRGN FRegion = nullptr;  // handed to the window, which owns it
  UniqueBitmap FGlyphRollUp;
  UniqueBitmap FGlyphRollDown;
};

}  // namespace tarnwick
