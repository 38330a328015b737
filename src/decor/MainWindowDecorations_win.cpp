#include "decor/FormRoller.h"
#include "decor/FormTopmost.h"
#include "decor/FormTrayIcon.h"
#include "decor/MainWindowDecorations.h"

namespace tarnwick {
namespace {

// Settings every one of the three buttons shares on the main window.
void CommonButtonSettings(TCustomCaptionButton& b, int order, const std::wstring& hint) {
  TACaptionButton& cb = b.CaptionButton();
  cb.SetBtnOrder(order);
  cb.SetHint(hint);
  cb.SetShowHint(true);
  cb.SetEnabled(true);
  cb.SetVisible(true);
  cb.SetSeparatorWidth(0);
  cb.SetCursor(0);
  cb.SetCursorDown(0);
}

}  // namespace

MainWindowDecorations AttachMainWindowDecorations(TComponent& form) {
  const bool formLoading = form.IsLoading();
  MainWindowDecorations d;

  d.FormTrayIcon1 = new TFormTrayIcon(&form);
  d.FormTrayIcon1->SetName("FormTrayIcon1");
  d.FormTrayIcon1->SetLoading();
  CommonButtonSettings(*d.FormTrayIcon1, 0, L"タスクトレイにしまう");
  d.FormTrayIcon1->SystemMenu().SetApplyToMenu(false);
  d.FormTrayIcon1->SystemMenu().SetPosition(0);
  d.FormTrayIcon1->SystemMenu().SetSeparators(TMenuSeparators{});
  d.FormTrayIcon1->SetAnimate(false);
  d.FormTrayIcon1->SetImageIndex(0);
  d.FormTrayIcon1->SetShowHint(true);
  d.FormTrayIcon1->SetVisible(false);
  TWin2kInfoBalloon& balloon = d.FormTrayIcon1->Win2kInfoBalloon();
  balloon.Enabled = false;
  balloon.Timeout = 0;
  balloon.Icon = TWin2kInfoIcon::iiNone;

  d.FormTopmost1 = new TFormTopmost(&form);
  d.FormTopmost1->SetName("FormTopmost1");
  d.FormTopmost1->SetLoading();
  CommonButtonSettings(*d.FormTopmost1, 1, L"常に手前に表示させる");
  d.FormTopmost1->SystemMenu().SetApplyToMenu(true);
  d.FormTopmost1->SystemMenu().SetCaption(L"Always on &top");
  d.FormTopmost1->SystemMenu().SetPosition(7);
  d.FormTopmost1->SystemMenu().SetSeparators(TMenuSeparators{true, false});
  d.FormTopmost1->SetTopmostValue(false);

  d.FormRoller1 = new TFormRoller(&form);
  d.FormRoller1->SetName("FormRoller1");
  d.FormRoller1->SetLoading();
  CommonButtonSettings(*d.FormRoller1, 2, L"ロールアップ");
  d.FormRoller1->SystemMenu().SetApplyToMenu(false);
  d.FormRoller1->SystemMenu().SetCaption(L"ロールアップ");
  d.FormRoller1->SystemMenu().SetPosition(9);
  d.FormRoller1->SystemMenu().SetSeparators(TMenuSeparators{true, false});
  d.FormRoller1->SetAnimate(true);
  d.FormRoller1->SetAnimateSpeed(8);
  d.FormRoller1->SetHintRollUp(L"ロールアップ");
  d.FormRoller1->SetHintRollDown(L"ロールダウン");
  d.FormRoller1->SetRemainHeight(0);
  d.FormRoller1->SetRollUp(false);

  // A form that is being loaded calls Loaded on its components itself.
  if (!formLoading) {
    d.FormTrayIcon1->Loaded();
    d.FormTopmost1->Loaded();
    d.FormRoller1->Loaded();
  }
  return d;
}

}  // namespace tarnwick
