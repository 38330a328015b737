#include "decor/TrayPopupMenu.h"
#include "ui/Handle.h"

namespace tarnwick {

TTrayMenuItem* TTrayPopupMenu::Add(const std::wstring& caption) {
  items_.push_back(std::make_unique<TTrayMenuItem>(*this));
  items_.back()->Caption = caption;
  return items_.back().get();
}

TTrayMenuItem* TTrayPopupMenu::DefaultItem() const noexcept {
  for (const auto& item : items_) {
    if (item->Default) return item.get();
  }
  return nullptr;
}

void TTrayPopupMenu::Popup(HWND owner, int x, int y) {
  UniqueMenu menu(::CreatePopupMenu());
  if (!menu) return;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const TTrayMenuItem& item = *items_[i];
    UINT flags = MF_STRING | (item.Enabled ? MF_ENABLED : MF_GRAYED);
    ::AppendMenuW(menu.get(), flags, i + 1, item.Caption.c_str());
    if (item.Default) ::SetMenuDefaultItem(menu.get(), static_cast<UINT>(i + 1), FALSE);
  }
  const int chosen = static_cast<int>(
      ::TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, x, y, 0, owner, nullptr));
  if (chosen > 0 && static_cast<std::size_t>(chosen) <= items_.size()) items_[chosen - 1]->Click();
}

}  // namespace tarnwick
