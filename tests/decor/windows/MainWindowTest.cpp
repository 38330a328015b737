// The three title-bar buttons on the real main window, in process: their
// places, the system menu, and one round trip of each driven through the
// window's own non-client messages.
#include <gtest/gtest.h>

#include "DecorTestSupport.h"
#include "app/MainForm.h"
#include "decor/FormRoller.h"
#include "decor/FormTopmost.h"
#include "decor/FormTrayIcon.h"
#include "ui/Application.h"

namespace tarnwick::testing {
namespace {

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    app = Application().Handle();
    form = Application().CreateForm<TForm1>();
    ::ShowWindow(app, SW_SHOWNOACTIVATE);
    form->Show();
    wnd = form->Handle();
    tray = dynamic_cast<TFormTrayIcon*>(form->FindComponent("FormTrayIcon1"));
    topmost = dynamic_cast<TFormTopmost*>(form->FindComponent("FormTopmost1"));
    roller = dynamic_cast<TFormRoller*>(form->FindComponent("FormRoller1"));
    ::RedrawWindow(wnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    Pump();
  }
  void TearDown() override { delete form; }

  void Click(const TCustomCaptionButton& b) {
    const ButtonPlacement& r = b.ButtonRect();
    POINT at{(r.rectLeft + r.rectRight) / 2 + 1, -::GetSystemMetrics(SM_CYCAPTION) / 2};
    ::ClientToScreen(wnd, &at);
    const LRESULT hit = SendAt(wnd, WM_NCHITTEST, 0, at);
    ASSERT_EQ(hit, b.ButtonId());
    SendAt(wnd, WM_NCLBUTTONDOWN, static_cast<WPARAM>(hit), at);
    SendAt(wnd, WM_NCLBUTTONUP, static_cast<WPARAM>(hit), at);
  }

  HWND app = nullptr;
  TForm1* form = nullptr;
  HWND wnd = nullptr;
  TFormTrayIcon* tray = nullptr;
  TFormTopmost* topmost = nullptr;
  TFormRoller* roller = nullptr;
};

TEST_F(MainWindow, CarriesTheThreeButtonsRightToLeft) {
  ASSERT_NE(tray, nullptr);
  ASSERT_NE(topmost, nullptr);
  ASSERT_NE(roller, nullptr);
  EXPECT_EQ(tray->CaptionButton().GetBtnOrder(), 0);
  EXPECT_EQ(topmost->CaptionButton().GetBtnOrder(), 1);
  EXPECT_EQ(roller->CaptionButton().GetBtnOrder(), 2);
  EXPECT_GT(tray->ButtonRect().rectLeft, topmost->ButtonRect().rectLeft);
  EXPECT_GT(topmost->ButtonRect().rectLeft, roller->ButtonRect().rectLeft);
  HMENU menu = ::GetSystemMenu(wnd, FALSE);
  EXPECT_NE(::GetMenuState(menu, 7, MF_BYPOSITION) & MF_SEPARATOR, 0u);
  EXPECT_EQ(static_cast<int>(::GetMenuItemID(menu, 8)), topmost->ButtonId());
}

TEST_F(MainWindow, TrayRoundTrip) {
  ASSERT_NE(tray, nullptr);
  Click(*tray);
  EXPECT_TRUE(tray->Visible());
  EXPECT_FALSE(::IsWindowVisible(app));
  EXPECT_FALSE(::IsWindowVisible(wnd));
  EXPECT_NE(tray->NotifyData().hIcon, nullptr);
  ::SendMessageW(tray->UtilityWnd(), WM_TRAYICON_NOTIFY, 0, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(::IsWindowVisible(app));
  EXPECT_TRUE(::IsWindowVisible(wnd));
  EXPECT_TRUE(tray->Visible());
}

TEST_F(MainWindow, TopmostRoundTrip) {
  ASSERT_NE(topmost, nullptr);
  std::vector<bool> events;
  topmost->OnTopmostChanged = [&](TObject*, bool v) { events.push_back(v); };
  Click(*topmost);
  EXPECT_NE(::GetWindowLongW(wnd, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  EXPECT_TRUE(topmost->Down());
  EXPECT_NE(::GetMenuState(::GetSystemMenu(wnd, FALSE), 8, MF_BYPOSITION) & MF_CHECKED, 0u);
  Click(*topmost);
  EXPECT_EQ(::GetWindowLongW(wnd, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  EXPECT_EQ(events, (std::vector<bool>{true, false}));
}

TEST_F(MainWindow, RollUpAndDown) {
  ASSERT_NE(roller, nullptr);
  RECT rc{};
  ::GetClientRect(wnd, &rc);
  const int designed = rc.bottom;
  Click(*roller);
  EXPECT_TRUE(roller->RollUp());
  EXPECT_EQ(roller->CaptionButton().GetHint(), L"ロールダウン");
  HRGN region = ::CreateRectRgn(0, 0, 0, 0);
  EXPECT_NE(::GetWindowRgn(wnd, region), ERROR);
  Click(*roller);
  EXPECT_FALSE(roller->RollUp());
  EXPECT_EQ(::GetWindowRgn(wnd, region), ERROR);
  ::DeleteObject(region);
  ::GetClientRect(wnd, &rc);
  EXPECT_EQ(rc.bottom, designed);
  EXPECT_EQ(roller->CaptionButton().GetHint(), L"ロールアップ");
}

}  // namespace
}  // namespace tarnwick::testing
