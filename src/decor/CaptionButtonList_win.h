// Process-wide bookkeeping of the caption buttons: the per-form button
// lists (in BtnOrder order), the id and tool counters and the one tooltip
// window shared by every button. Internal to the caption-button files.
#pragma once

#include <windows.h>

#include <vector>

namespace tarnwick {

class TCustomCaptionButton;

struct TacRealButtonsList {
  HWND wnd = nullptr;
  std::vector<TCustomCaptionButton*> buttons;
  int IndexOf(const TCustomCaptionButton* b) const;
};

namespace caption_registry {

// The list of the button's form window, created when there is none.
TacRealButtonsList& FindFormList(TCustomCaptionButton* button);
// The list that holds the button, whatever its key, or null.
TacRealButtonsList* ListHolding(const TCustomCaptionButton* button);
// Takes the button out; frees its list when it becomes empty. Returns the
// list that still holds other buttons, or null.
TacRealButtonsList* Remove(TCustomCaptionButton* button);
// Number of per-form lists (for tests).
int FormListCount();

int NextButtonId();
int NextToolId();
// Created with the first caption button, destroyed with the last one.
HWND Tooltip();
void ButtonCreated();
void ButtonDestroyed();

}  // namespace caption_registry
}  // namespace tarnwick
