#include "decor/DecorResources_win.h"
#include "decor/FormTopmost.h"

namespace tarnwick {

TFormTopmost::TFormTopmost(TComponent* owner) : TCustomCaptionButton(owner) {
  SetAllowToggle(true);
  SetGlyph(LoadDecorBitmap(L"CB_TOPMOST_UP").get());
  SetGlyphDown(LoadDecorBitmap(L"CB_TOPMOST_DOWN").get());
  CaptionButton().SetHint(L"Always on top");
  SystemMenu().SetCaption(L"Always on &top");
  SystemMenu().SetPosition(::GetMenuItemCount(GetSystemMenuHandle()));
  SystemMenu().SetSeparators(TMenuSeparators{true, false});
  SystemMenu().SetApplyToMenu(true);
  // Made outside a form definition there is no Loaded: a window that is
  // already topmost must still show the button down.
  if (owner == nullptr || !owner->IsLoading()) SetDown(Topmost());
  Repaint();
}

TFormTopmost::~TFormTopmost() { BeginDestroy(); }

void TFormTopmost::Loaded() {
  TCustomCaptionButton::Loaded();
  SetDown(Topmost());
}

void TFormTopmost::Execute() {
  TCustomCaptionButton::Execute();
  SetTopmost(Down());
}

void TFormTopmost::AfterHookedMessage(THookMessage& msg) {
  TCustomCaptionButton::AfterHookedMessage(msg);
  if (msg.Msg == WM_FORMHOOK_TOPMOST) {
    SetDown(msg.WParam != 0);
    if (OnTopmostChanged) OnTopmostChanged(this, msg.WParam != 0);
  }
}

}  // namespace tarnwick
