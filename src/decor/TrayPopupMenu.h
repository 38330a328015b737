// A small popup menu for the notification-area icon: items with a caption,
// a default flag, an enabled flag and a click handler. Items are owned by
// the menu and addressed by pointer, so the tray component can take over
// the click handlers of its restore and minimise items.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/Component.h"

namespace tarnwick {

class TTrayPopupMenu;

class TTrayMenuItem : public TObject {
 public:
  explicit TTrayMenuItem(TTrayPopupMenu& menu) : Menu(menu) {}
  TTrayPopupMenu& Menu;  // the menu that owns the item
  std::wstring Caption;
  bool Default = false;
  bool Enabled = true;
  std::function<void(TObject* sender)> OnClick;
  void Click() {
    if (OnClick) OnClick(this);
  }
};

class TTrayPopupMenu : public TComponent {
 public:
  explicit TTrayPopupMenu(TComponent* owner) : TComponent(owner) {}
  ~TTrayPopupMenu() override { BeginDestroy(); }

  bool AutoPopup = true;
  TTrayMenuItem* Add(const std::wstring& caption);
  std::size_t Count() const noexcept { return items_.size(); }
  TTrayMenuItem* Items(std::size_t i) const { return items_.at(i).get(); }
  // The first top-level item marked Default, or null.
  TTrayMenuItem* DefaultItem() const noexcept;
  // Shows the menu at a screen point for `owner` and clicks the chosen item.
  void Popup(HWND owner, int x, int y);

 private:
  std::vector<std::unique_ptr<TTrayMenuItem>> items_;
};

}  // namespace tarnwick
