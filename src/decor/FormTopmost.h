// A toggle caption button that keeps its form above all non-topmost
// windows while it is down, mirrored by a checked system-menu item. The
// state lives in the window's extended style; the button, the check mark
// and the listeners follow it through one private message.
#pragma once

#include <functional>

#include "decor/CaptionButton.h"

namespace tarnwick {

using TFormTopmostChangedEvent = std::function<void(TObject* sender, bool topmost)>;

class TFormTopmost : public TCustomCaptionButton {
 public:
  explicit TFormTopmost(TComponent* owner);
  ~TFormTopmost() override;

  bool Topmost() const { return GetTopmost(); }
  void SetTopmostValue(bool value) { SetTopmost(value); }
  void Loaded() override;

  TFormTopmostChangedEvent OnTopmostChanged;

 protected:
  void Execute() override;
  void AfterHookedMessage(THookMessage& msg) override;
};

}  // namespace tarnwick
