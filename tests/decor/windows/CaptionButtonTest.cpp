// clang-format off
// windows.h first: the other system headers build on it.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>
// clang-format on

#include "DecorTestSupport.h"
#include "decor/CaptionButton.h"

namespace tarnwick::testing {
namespace {

class CaptionButtons : public ::testing::Test {
 protected:
  void SetUp() override {
    form = MakeForm(400, 200);
    wnd = form->Handle();
  }
  void TearDown() override { delete form; }

  TCustomCaptionButton* Make() {
    auto* b = new TCustomCaptionButton(form);
    b->OnButtonClick = [this](TObject*) { ++buttonClicks; };
    b->OnMenuClick = [this](TObject*) { ++menuClicks; };
    b->OnButtonDown = [this](TObject*) { ++downs; };
    b->OnButtonUp = [this](TObject*) { ++ups; };
    ::RedrawWindow(wnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    return b;
  }

  // A screen point in the middle of the button's hit area.
  POINT Over(const TCustomCaptionButton& b) {
    const ButtonPlacement& r = b.ButtonRect();
    POINT p{(r.rectLeft + r.rectRight) / 2 + 1, -::GetSystemMetrics(SM_CYCAPTION) / 2};
    ::ClientToScreen(wnd, &p);
    return p;
  }
  // Full click through the non-client messages; returns the hit code.
  LRESULT Click(const TCustomCaptionButton& b) {
    const POINT at = Over(b);
    const LRESULT hit = SendAt(wnd, WM_NCHITTEST, 0, at);
    SendAt(wnd, WM_NCLBUTTONDOWN, static_cast<WPARAM>(hit), at);
    POINT client = at;
    ::ScreenToClient(wnd, &client);
    ::SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(client.x, client.y));
    return hit;
  }
  bool MenuChecked(const TCustomCaptionButton& b) {
    return (::GetMenuState(::GetSystemMenu(wnd, FALSE), static_cast<UINT>(b.ButtonId()), MF_BYCOMMAND) &
            MF_CHECKED) != 0;
  }

  TForm* form = nullptr;
  HWND wnd = nullptr;
  int buttonClicks = 0, menuClicks = 0, downs = 0, ups = 0;
};

TEST_F(CaptionButtons, IdsAreUniqueAndGrow) {
  TCustomCaptionButton* a = Make();
  TCustomCaptionButton* b = Make();
  EXPECT_GE(a->ButtonId(), 5734);
  EXPECT_EQ(b->ButtonId(), a->ButtonId() + 1);
}

TEST_F(CaptionButtons, ThreeButtonsTouchAtMultiplesOfTheButtonWidth) {
  const int cx = ::GetSystemMetrics(SM_CXSIZE);
  TCustomCaptionButton* b0 = Make();
  TCustomCaptionButton* b1 = Make();
  TCustomCaptionButton* b2 = Make();
  EXPECT_EQ(b0->RightOffset(), cx);
  EXPECT_EQ(b1->RightOffset(), 2 * cx - 2);
  EXPECT_EQ(b2->RightOffset(), 3 * cx - 4);
  // Painted right to left, each cx - 2 wide.
  EXPECT_EQ(b0->ButtonRect().rectLeft - b1->ButtonRect().rectLeft, cx - 2);
  EXPECT_EQ(b1->ButtonRect().rectLeft - b2->ButtonRect().rectLeft, cx - 2);
  EXPECT_EQ(b0->ButtonRect().imageWidth, cx - 2);
}

TEST_F(CaptionButtons, BtnOrderWrittenAtRunTimeIsClamped) {
  TCustomCaptionButton* first = Make();
  TCustomCaptionButton* second = Make();
  first->CaptionButton().SetBtnOrder(5);
  EXPECT_EQ(first->CaptionButton().GetBtnOrder(), 1);
  EXPECT_EQ(second->CaptionButton().GetBtnOrder(), 0);
  first->CaptionButton().SetBtnOrder(-3);
  EXPECT_EQ(first->CaptionButton().GetBtnOrder(), 0);
  EXPECT_EQ(first->RightOffset(), ::GetSystemMetrics(SM_CXSIZE));
}

TEST_F(CaptionButtons, PendingOrderIsSortedWhenLoaded) {
  form->BeginLoading();
  auto* a = new TCustomCaptionButton(form);
  auto* b = new TCustomCaptionButton(form);
  auto* c = new TCustomCaptionButton(form);
  a->CaptionButton().SetBtnOrder(2);
  b->CaptionButton().SetBtnOrder(0);
  c->CaptionButton().SetBtnOrder(1);
  EXPECT_EQ(a->CaptionButton().GetBtnOrder(), 0);  // only recorded while loading
  EXPECT_FALSE(a->ToolAdded());
  form->EndLoading();
  EXPECT_EQ(b->CaptionButton().GetBtnOrder(), 0);
  EXPECT_EQ(c->CaptionButton().GetBtnOrder(), 1);
  EXPECT_EQ(a->CaptionButton().GetBtnOrder(), 2);
  EXPECT_TRUE(a->ToolAdded());
  EXPECT_LT(b->RightOffset(), a->RightOffset());
}

TEST_F(CaptionButtons, HidingTheMiddleButtonMovesTheLeftOneIntoItsPlace) {
  TCustomCaptionButton* b0 = Make();
  TCustomCaptionButton* b1 = Make();
  TCustomCaptionButton* b2 = Make();
  b1->CaptionButton().SetHint(L"middle");
  const int oldMiddle = b1->RightOffset();
  b1->CaptionButton().SetVisible(false);
  EXPECT_EQ(b2->RightOffset(), oldMiddle);
  EXPECT_EQ(b1->ToolArea(), (ToolRect{0, 0, 0, 0}));
  (void)b0;
}

TEST_F(CaptionButtons, SeparatorWidthIsStoredInOneByte) {
  TCustomCaptionButton* b0 = Make();
  TCustomCaptionButton* b1 = Make();
  b0->CaptionButton().SetSeparatorWidth(300);
  EXPECT_EQ(b0->CaptionButton().GetSeparatorWidth(), 44);
  const int cx = ::GetSystemMetrics(SM_CXSIZE);
  EXPECT_EQ(b0->RightOffset(), 2 + 44 + cx - 2);
  EXPECT_EQ(b1->RightOffset(), 2 + 44 + 2 * (cx - 2));
}

TEST_F(CaptionButtons, PressAndReleaseOverTheButtonIsOneClick) {
  TCustomCaptionButton* b = Make();
  EXPECT_EQ(Click(*b), b->ButtonId());
  EXPECT_EQ(buttonClicks, 1);
  EXPECT_FALSE(b->Pressed());
  EXPECT_FALSE(b->DrawnDown());
  EXPECT_NE(::GetCapture(), wnd);
}

TEST_F(CaptionButtons, DraggingIntoTheClientAreaCancelsTheClick) {
  TCustomCaptionButton* b = Make();
  const POINT at = Over(*b);
  const LRESULT hit = SendAt(wnd, WM_NCHITTEST, 0, at);
  SendAt(wnd, WM_NCLBUTTONDOWN, static_cast<WPARAM>(hit), at);
  EXPECT_TRUE(b->Pressed());
  EXPECT_TRUE(b->DrawnDown());
  EXPECT_EQ(::GetCapture(), wnd);
  ::SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(20, 10));
  EXPECT_FALSE(b->DrawnDown());
  ::SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(20, 10));
  EXPECT_EQ(buttonClicks, 0);
  EXPECT_FALSE(b->Pressed());
}

TEST_F(CaptionButtons, LosingTheCaptureEndsThePressWithoutAClick) {
  TCustomCaptionButton* b = Make();
  const POINT at = Over(*b);
  SendAt(wnd, WM_NCLBUTTONDOWN, static_cast<WPARAM>(SendAt(wnd, WM_NCHITTEST, 0, at)), at);
  ASSERT_TRUE(b->Pressed());
  ::ReleaseCapture();  // as when another window takes the mouse
  EXPECT_FALSE(b->Pressed());
  EXPECT_FALSE(b->DrawnDown());
  // A later click in the client area is not a click on the button.
  ::SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(30, 30));
  EXPECT_EQ(buttonClicks, 0);
}

TEST_F(CaptionButtons, MovingWithinTheCaptionBandKeepsThePressedLook) {
  TCustomCaptionButton* b = Make();
  const POINT at = Over(*b);
  SendAt(wnd, WM_NCLBUTTONDOWN, static_cast<WPARAM>(SendAt(wnd, WM_NCHITTEST, 0, at)), at);
  const int band = ::GetSystemMetrics(SM_CYCAPTION);
  ::SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(20, static_cast<WORD>(-band)));
  EXPECT_TRUE(b->DrawnDown());
  ::SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(20, static_cast<WORD>(-(band + 2))));
  EXPECT_FALSE(b->DrawnDown());
  ::SendMessageW(wnd, WM_LBUTTONUP, 0, 0);
}

TEST_F(CaptionButtons, DoubleClickCountsAsTwoClicks) {
  TCustomCaptionButton* b = Make();
  Click(*b);
  const POINT at = Over(*b);
  SendAt(wnd, WM_NCLBUTTONDBLCLK, static_cast<WPARAM>(b->ButtonId()), at);
  EXPECT_TRUE(b->Pressed());
  ::SendMessageW(wnd, WM_LBUTTONUP, 0, 0);
  EXPECT_EQ(buttonClicks, 2);
}

TEST_F(CaptionButtons, RightClicksOnTheButtonNeverReachTheForm) {
  std::vector<std::string> log;
  auto* inner = new TProbe(form, "inner", &log);  // sits under the button in the chain
  inner->watch = WM_NCRBUTTONUP;
  TCustomCaptionButton* b = Make();
  const POINT at = Over(*b);
  SendAt(wnd, WM_NCRBUTTONUP, static_cast<WPARAM>(b->ButtonId()), at);
  EXPECT_TRUE(log.empty());
  SendAt(wnd, WM_NCRBUTTONUP, HTCAPTION, at);
  EXPECT_EQ(log, (std::vector<std::string>{"inner:before", "inner:after"}));
}

TEST_F(CaptionButtons, ToggleButtonFlipsAndTheMenuCheckMarkFollows) {
  TCustomCaptionButton* b = Make();
  b->SetAllowToggle(true);
  b->SystemMenu().SetApplyToMenu(true);
  Click(*b);
  EXPECT_TRUE(b->Down());
  EXPECT_TRUE(MenuChecked(*b));
  EXPECT_EQ(downs, 1);
  EXPECT_TRUE(b->DrawnDown());  // a down toggle stays sunken
  Click(*b);
  EXPECT_FALSE(b->Down());
  EXPECT_FALSE(MenuChecked(*b));
  EXPECT_EQ(ups, 1);
  EXPECT_EQ(buttonClicks, 2);
  // The menu command does the same without the pressed phase.
  ::SendMessageW(wnd, WM_SYSCOMMAND, static_cast<WPARAM>(b->ButtonId()), 0);
  EXPECT_TRUE(b->Down());
  EXPECT_TRUE(MenuChecked(*b));
  EXPECT_EQ(menuClicks, 1);
  // Turning toggling off raises the button.
  b->SetAllowToggle(false);
  EXPECT_FALSE(b->Down());
}

TEST_F(CaptionButtons, SystemMenuItemPositionAndSeparators) {
  HMENU menu = ::GetSystemMenu(wnd, FALSE);
  const int standard = ::GetMenuItemCount(menu);
  struct Row {
    int position;
    bool before, after;
    int itemIndex;
  } rows[] = {
      {standard, true, false, standard + 1}, {standard + 13, false, false, standard}, {0, false, true, 0}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.position);
    TCustomCaptionButton* b = Make();
    b->CaptionButton().SetHint(L"Mirror");
    b->SystemMenu().SetPosition(r.position);
    b->SystemMenu().SetSeparators(TMenuSeparators{r.before, r.after});
    b->SystemMenu().SetApplyToMenu(true);
    EXPECT_EQ(::GetMenuItemCount(menu), standard + 1 + (r.before ? 1 : 0) + (r.after ? 1 : 0));
    EXPECT_EQ(static_cast<int>(::GetMenuItemID(menu, r.itemIndex)), b->ButtonId());
    if (r.before) {
      EXPECT_EQ(::GetMenuState(menu, static_cast<UINT>(r.itemIndex - 1), MF_BYPOSITION) & MF_SEPARATOR,
                UINT{MF_SEPARATOR});
    }
    if (r.after) {
      EXPECT_EQ(::GetMenuState(menu, static_cast<UINT>(r.itemIndex + 1), MF_BYPOSITION) & MF_SEPARATOR,
                UINT{MF_SEPARATOR});
    }
    wchar_t text[32] = {};
    ::GetMenuStringW(menu, static_cast<UINT>(b->ButtonId()), text, 32, MF_BYCOMMAND);
    EXPECT_STREQ(text, L"Mirror");  // the hint stands in for an empty caption
    delete b;
    EXPECT_EQ(::GetMenuItemCount(menu), standard);
  }
}

TEST_F(CaptionButtons, DisablingGreysTheMenuItemAndIgnoresPresses) {
  TCustomCaptionButton* b = Make();
  b->SystemMenu().SetApplyToMenu(true);
  b->CaptionButton().SetEnabled(false);
  EXPECT_NE(
      ::GetMenuState(::GetSystemMenu(wnd, FALSE), static_cast<UINT>(b->ButtonId()), MF_BYCOMMAND) & MF_GRAYED,
      0u);
  Click(*b);
  EXPECT_EQ(buttonClicks, 0);
  EXPECT_FALSE(b->Pressed());
  b->CaptionButton().SetEnabled(true);
  EXPECT_EQ(
      ::GetMenuState(::GetSystemMenu(wnd, FALSE), static_cast<UINT>(b->ButtonId()), MF_BYCOMMAND) & MF_GRAYED,
      0u);
}

TEST_F(CaptionButtons, NoTitleBarNoButton) {
  TCustomCaptionButton* b = Make();
  ASSERT_TRUE(b->ButtonRect().paintable);
  ::SetWindowLongW(wnd, GWL_STYLE, ::GetWindowLongW(wnd, GWL_STYLE) & ~WS_CAPTION);
  b->AddTool();  // resets the remembered rectangle
  b->RefreshFrame();
  b->Repaint();
  EXPECT_FALSE(b->ButtonRect().paintable);
  // Nothing is hit where the button would be.
  POINT p{200, -5};
  ::ClientToScreen(wnd, &p);
  EXPECT_NE(SendAt(wnd, WM_NCHITTEST, 0, p), b->ButtonId());
}

TEST_F(CaptionButtons, ButtonMadeOutsideLoadingHasItsTooltipAtOnce) {
  TCustomCaptionButton* b = Make();
  ASSERT_NE(TCustomCaptionButton::TooltipWindow(), nullptr);
  EXPECT_TRUE(b->ToolAdded());
  b->CaptionButton().SetHint(L"tip");
  ::RedrawWindow(wnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  const ToolRect area = b->ToolArea();
  EXPECT_EQ(area.top, -::GetSystemMetrics(SM_CYCAPTION));
  EXPECT_EQ(area.bottom, 0);
  EXPECT_EQ(area.left, b->ButtonRect().rectLeft + 1);
  EXPECT_GE(::SendMessageW(TCustomCaptionButton::TooltipWindow(), TTM_GETTOOLCOUNT, 0, 0), 1);
}

TEST_F(CaptionButtons, RecreatedWindowKeepsTheButtonListAndMenuItem) {
  TCustomCaptionButton* b0 = Make();
  TCustomCaptionButton* b1 = Make();
  b1->SystemMenu().SetApplyToMenu(true);
  ::DestroyWindow(wnd);
  Pump(100);
  HWND fresh = form->Handle();
  ASSERT_NE(fresh, wnd);
  wnd = fresh;
  EXPECT_EQ(b0->CaptionButton().GetBtnOrder(), 0);
  EXPECT_EQ(b1->CaptionButton().GetBtnOrder(), 1);
  EXPECT_EQ(::GetMenuState(::GetSystemMenu(fresh, FALSE), static_cast<UINT>(b1->ButtonId()), MF_BYCOMMAND) ==
                static_cast<UINT>(-1),
            false);
  EXPECT_TRUE(b1->ToolAdded());
}

// Every re-creation must take the old window's tools out with it, or the
// shared tooltip window collects one dead tool per button each time.
TEST_F(CaptionButtons, RecreatingTheWindowKeepsOneToolPerButton) {
  Make();
  TCustomCaptionButton* second = Make();
  HWND tip = TCustomCaptionButton::TooltipWindow();
  ASSERT_NE(tip, nullptr);
  auto tools = [tip] { return ::SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0); };
  ASSERT_EQ(tools(), 2);
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    ::DestroyWindow(wnd);
    Pump(100);
    HWND fresh = form->Handle();
    ASSERT_NE(fresh, wnd);
    wnd = fresh;
    EXPECT_EQ(tools(), 2);
  }
  delete second;
  EXPECT_EQ(tools(), 1);
}

}  // namespace
}  // namespace tarnwick::testing
