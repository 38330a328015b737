#include "decor/CaptionButtonList_win.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>

#include "decor/CaptionButton.h"
#include "decor/CaptionLayout.h"

namespace tarnwick {

int TacRealButtonsList::IndexOf(const TCustomCaptionButton* b) const {
  auto it = std::find(buttons.begin(), buttons.end(), b);
  return it == buttons.end() ? -1 : static_cast<int>(it - buttons.begin());
}

namespace caption_registry {
namespace {

std::vector<std::unique_ptr<TacRealButtonsList>> formLists;  // the virtual button list
int buttonCounter = kFirstCaptionButtonId;
int toolCounter = 0;
int liveButtons = 0;
HWND tooltip = nullptr;

HWND CreateTooltip() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&icc);
  return ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                           0, 0, 0, 0, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

TacRealButtonsList& FindFormList(TCustomCaptionButton* button) {
  for (auto& list : formLists) {
    if (list->wnd == button->HookedWnd()) return *list;
  }
  formLists.push_back(std::make_unique<TacRealButtonsList>());
  formLists.back()->wnd = button->HookedWnd();
  return *formLists.back();
}

TacRealButtonsList* ListHolding(const TCustomCaptionButton* button) {
  for (auto& list : formLists) {
    if (list->IndexOf(button) >= 0) return list.get();
  }
  return nullptr;
}

TacRealButtonsList* Remove(TCustomCaptionButton* button) {
  for (auto it = formLists.begin(); it != formLists.end(); ++it) {
    auto& buttons = (*it)->buttons;
    auto pos = std::find(buttons.begin(), buttons.end(), button);
    if (pos == buttons.end()) continue;
    buttons.erase(pos);
    if (buttons.empty()) {
      formLists.erase(it);
      return nullptr;
    }
    return it->get();
  }
  return nullptr;
}

int FormListCount() { return static_cast<int>(formLists.size()); }

int NextButtonId() { return buttonCounter++; }
int NextToolId() { return ++toolCounter; }

HWND Tooltip() { return tooltip; }

void ButtonCreated() {
  if (liveButtons++ == 0 && tooltip == nullptr) tooltip = CreateTooltip();
}

void ButtonDestroyed() {
  if (--liveButtons == 0) {
    if (tooltip != nullptr) ::DestroyWindow(tooltip);
    tooltip = nullptr;
    formLists.clear();
  }
}

}  // namespace caption_registry
}  // namespace tarnwick
