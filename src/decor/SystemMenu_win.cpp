// The mirror item of a caption button in its form's system menu, with its
// optional separators. Every setting change takes the item out and puts it
// back so that position, caption and separators are always consistent.
#include "decor/CaptionButton.h"
#include "decor/SystemMenuPlan.h"

namespace tarnwick {

void TSystemMenu::SetApplyToMenu(bool value) {
  if (value == applyToMenu_) return;
  Remove();
  applyToMenu_ = value;
  Apply();
}

void TSystemMenu::SetCaption(const std::wstring& value) {
  if (value == caption_) return;
  Remove();
  caption_ = value;
  Apply();
}

void TSystemMenu::SetPosition(int value) {
  const auto stored = static_cast<std::uint16_t>(value);
  if (stored == position_) return;
  Remove();
  position_ = stored;
  Apply();
}

void TSystemMenu::SetSeparators(TMenuSeparators value) {
  if (value == separators_) return;
  Remove();
  separators_ = value;
  Apply();
}

void TSystemMenu::Apply() {
  if (!applyToMenu_) return;
  HMENU menu = button_.GetSystemMenuHandle();
  if (menu == nullptr) return;
  const int id = button_.ButtonId();
  std::wstring text = caption_.empty() ? button_.CaptionButton().GetHint() : caption_;
  for (const MenuInsertStep& step :
       PlanMenuInsert(position_, ::GetMenuItemCount(menu), separators_.before, separators_.after)) {
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_STATE | MIIM_ID | MIIM_CHECKMARKS | MIIM_TYPE | MIIM_DATA;
    mii.fState = MFS_DEFAULT;
    switch (step.kind) {
      case MenuEntryKind::Item:
        mii.fType = MFT_STRING;
        mii.wID = static_cast<UINT>(id);
        mii.dwTypeData = text.data();
        mii.cch = static_cast<UINT>(text.size());
        break;
      case MenuEntryKind::SeparatorBefore:
        mii.fType = MFT_SEPARATOR;
        mii.wID = static_cast<UINT>(id + kSeparatorBeforeIdDelta);
        break;
      case MenuEntryKind::SeparatorAfter:
        mii.fType = MFT_SEPARATOR;
        mii.wID = static_cast<UINT>(id + kSeparatorAfterIdDelta);
        break;
    }
    ::InsertMenuItemW(menu, static_cast<UINT>(step.position), TRUE, &mii);
  }
  ::EnableMenuItem(menu, static_cast<UINT>(id),
                   MF_BYCOMMAND | (button_.CaptionButton().GetEnabled() ? MF_ENABLED : MF_GRAYED));
  FInserted = true;
  SetChecked(button_.Down());
}

void TSystemMenu::Remove() {
  if (!FInserted) return;
  HMENU menu = button_.GetSystemMenuHandle();
  const int id = button_.ButtonId();
  ::DeleteMenu(menu, static_cast<UINT>(id), MF_BYCOMMAND);
  if (separators_.before) ::DeleteMenu(menu, static_cast<UINT>(id + kSeparatorBeforeIdDelta), MF_BYCOMMAND);
  if (separators_.after) ::DeleteMenu(menu, static_cast<UINT>(id + kSeparatorAfterIdDelta), MF_BYCOMMAND);
  FInserted = false;
}

void TSystemMenu::Reapply() {
  Remove();
  Apply();
}

void TSystemMenu::SetChecked(bool checked) {
  if (!FInserted) return;
  ::CheckMenuItem(button_.GetSystemMenuHandle(), static_cast<UINT>(button_.ButtonId()),
                  MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

}  // namespace tarnwick
