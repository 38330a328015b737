#include <gtest/gtest.h>

#include <memory>

#include "DecorTestSupport.h"
#include "decor/FormRoller.h"
#include "decor/FormTopmost.h"
#include "decor/FormTrayIcon.h"
#include "decor/MainWindowDecorations.h"

namespace tarnwick::testing {
namespace {

// `standard` is the number of items the system menu had before: seven on
// Windows (Wine adds a separator and its own entry at the end).
void CheckMainWindowSettings(TForm* form, const MainWindowDecorations& d, int standard) {
  ASSERT_NE(d.FormTrayIcon1, nullptr);
  ASSERT_NE(d.FormTopmost1, nullptr);
  ASSERT_NE(d.FormRoller1, nullptr);
  // From right to left: tray, topmost, roll-up.
  EXPECT_EQ(d.FormTrayIcon1->CaptionButton().GetBtnOrder(), 0);
  EXPECT_EQ(d.FormTopmost1->CaptionButton().GetBtnOrder(), 1);
  EXPECT_EQ(d.FormRoller1->CaptionButton().GetBtnOrder(), 2);
  const int cx = ::GetSystemMetrics(SM_CXSIZE);
  EXPECT_EQ(d.FormTrayIcon1->RightOffset(), cx);
  EXPECT_EQ(d.FormTopmost1->RightOffset(), 2 * cx - 2);
  EXPECT_EQ(d.FormRoller1->RightOffset(), 3 * cx - 4);
  EXPECT_EQ(d.FormTrayIcon1->CaptionButton().GetHint(), L"タスクトレイにしまう");
  EXPECT_EQ(d.FormTopmost1->CaptionButton().GetHint(), L"常に手前に表示させる");
  EXPECT_EQ(d.FormRoller1->CaptionButton().GetHint(), L"ロールアップ");
  EXPECT_EQ(d.FormRoller1->HintRollDown(), L"ロールダウン");
  EXPECT_FALSE(d.FormTrayIcon1->Visible());
  EXPECT_FALSE(d.FormTopmost1->Topmost());
  EXPECT_TRUE(d.FormTrayIcon1->ToolAdded());
  // The system menu: a separator at 7, the item at 8; neither the tray nor
  // the roll-up adds anything.
  HMENU menu = ::GetSystemMenu(form->Handle(), FALSE);
  ASSERT_EQ(::GetMenuItemCount(menu), standard + 2);
  EXPECT_NE(::GetMenuState(menu, 7, MF_BYPOSITION) & MF_SEPARATOR, 0u);
  EXPECT_EQ(static_cast<int>(::GetMenuItemID(menu, 8)), d.FormTopmost1->ButtonId());
  wchar_t text[32] = {};
  ::GetMenuStringW(menu, 8, text, 32, MF_BYPOSITION);
  EXPECT_STREQ(text, L"Always on &top");
}

TEST(MainWindowDecorations, AttachedAfterLoading) {
  std::unique_ptr<TForm> form(MakeForm(610, 311));
  const int standard = ::GetMenuItemCount(::GetSystemMenu(form->Handle(), FALSE));
  ASSERT_GE(standard, 7);
  const MainWindowDecorations d = AttachMainWindowDecorations(*form);
  CheckMainWindowSettings(form.get(), d, standard);
}

TEST(MainWindowDecorations, AttachedWhileTheFormLoads) {
  EnsureApplication();
  std::unique_ptr<TForm> form(new TForm(nullptr));
  FormDef def;
  def.name = "Form1";
  def.caption = "Tarnwick LE";
  def.clientWidth = 610;
  def.clientHeight = 311;
  // Counted on a scratch form: this one must not get its window before it
  // has been built.
  int standard = 0;
  {
    std::unique_ptr<TForm> scratch(MakeForm(100, 50));
    standard = ::GetMenuItemCount(::GetSystemMenu(scratch->Handle(), FALSE));
  }
  form->BeginLoading();
  form->Build(def);
  const MainWindowDecorations d = AttachMainWindowDecorations(*form);
  form->EndLoading();
  form->Show();
  CheckMainWindowSettings(form.get(), d, standard);
}

}  // namespace
}  // namespace tarnwick::testing
