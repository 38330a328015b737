// The published settings object of a caption button: each property reads
// and writes the button and keeps layout, tooltip and menu in step.
#include "decor/CaptionButton.h"
#include "decor/CaptionButtonList_win.h"

namespace tarnwick {

int TACaptionButton::GetBtnOrder() const {
  const TacRealButtonsList* list = caption_registry::ListHolding(&button_);
  return list == nullptr ? -1 : list->IndexOf(&button_);
}

void TACaptionButton::SetBtnOrder(int value) {
  if (value < -1) value = -1;
  if (value > 32767) value = 32767;
  if (button_.IsLoading())
    button_.FPendingOrder = value;
  else
    button_.MoveTo(value);
}

int TACaptionButton::GetCursor() const { return button_.FCursor; }
void TACaptionButton::SetCursor(int value) { button_.FCursor = value; }
int TACaptionButton::GetCursorDown() const { return button_.FCursorDown; }
void TACaptionButton::SetCursorDown(int value) { button_.FCursorDown = value; }
bool TACaptionButton::GetEnabled() const { return button_.FEnabled; }

void TACaptionButton::SetEnabled(bool value) {
  if (value == button_.FEnabled) return;
  button_.FEnabled = value;
  ::EnableMenuItem(button_.GetSystemMenuHandle(), static_cast<UINT>(button_.FButtonId),
                   MF_BYCOMMAND | (value ? MF_ENABLED : MF_GRAYED));
  button_.UpdateTool();
  button_.Repaint();
}

const std::wstring& TACaptionButton::GetHint() const { return button_.FHint; }

void TACaptionButton::SetHint(const std::wstring& value) {
  if (value == button_.FHint) return;
  button_.FHint = value;
  button_.UpdateTool();
}

int TACaptionButton::GetSeparatorWidth() const { return button_.FSeparatorWidth; }

void TACaptionButton::SetSeparatorWidth(int value) {
  const std::uint8_t stored = StoredSeparatorWidth(value);
  if (stored == button_.FSeparatorWidth) return;
  button_.FSeparatorWidth = stored;
  button_.Relayout(true);
}

bool TACaptionButton::GetShowHint() const { return button_.FShowHint; }

void TACaptionButton::SetShowHint(bool value) {
  if (value == button_.FShowHint) return;
  button_.FShowHint = value;
  button_.UpdateTool();
}

bool TACaptionButton::GetVisible() const { return button_.FVisible; }

void TACaptionButton::SetVisible(bool value) {
  button_.FVisible = value;
  button_.UpdateTool();
  button_.Relayout(true);
}

}  // namespace tarnwick
