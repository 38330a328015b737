#include <gtest/gtest.h>

#include "DecorTestSupport.h"
#include "decor/FormTopmost.h"

namespace tarnwick::testing {
namespace {

class Topmost : public ::testing::Test {
 protected:
  void SetUp() override {
    form = MakeForm(400, 200);
    wnd = form->Handle();
    standardItems = ::GetMenuItemCount(::GetSystemMenu(wnd, FALSE));
    top = new TFormTopmost(form);
    top->OnTopmostChanged = [this](TObject*, bool value) { events.push_back(value); };
    ::RedrawWindow(wnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  }
  void TearDown() override { delete form; }

  bool StyleTopmost() const { return (::GetWindowLongW(wnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }
  bool Checked() const {
    return (::GetMenuState(::GetSystemMenu(wnd, FALSE), static_cast<UINT>(top->ButtonId()), MF_BYCOMMAND) &
            MF_CHECKED) != 0;
  }
  void ClickButton() {
    const ButtonPlacement& r = top->ButtonRect();
    POINT at{(r.rectLeft + r.rectRight) / 2 + 1, -::GetSystemMetrics(SM_CYCAPTION) / 2};
    ::ClientToScreen(wnd, &at);
    const LRESULT hit = SendAt(wnd, WM_NCHITTEST, 0, at);
    ASSERT_EQ(hit, top->ButtonId());
    SendAt(wnd, WM_NCLBUTTONDOWN, static_cast<WPARAM>(hit), at);
    SendAt(wnd, WM_NCLBUTTONUP, static_cast<WPARAM>(hit), at);
  }

  TForm* form = nullptr;
  HWND wnd = nullptr;
  int standardItems = 0;
  TFormTopmost* top = nullptr;
  std::vector<bool> events;
};

TEST_F(Topmost, MenuItemGoesAtTheEndAfterASeparator) {
  HMENU menu = ::GetSystemMenu(wnd, FALSE);
  ASSERT_EQ(::GetMenuItemCount(menu), standardItems + 2);
  EXPECT_NE(::GetMenuState(menu, static_cast<UINT>(standardItems), MF_BYPOSITION) & MF_SEPARATOR, 0u);
  EXPECT_EQ(static_cast<int>(::GetMenuItemID(menu, standardItems + 1)), top->ButtonId());
  wchar_t text[32] = {};
  ::GetMenuStringW(menu, static_cast<UINT>(top->ButtonId()), text, 32, MF_BYCOMMAND);
  EXPECT_STREQ(text, L"Always on &top");
  EXPECT_EQ(top->CaptionButton().GetHint(), L"Always on top");
  EXPECT_NE(top->Glyph(), nullptr);  // the picture comes from the resources
}

TEST_F(Topmost, ClickRoundTripMovesStyleButtonCheckMarkAndEvent) {
  ClickButton();
  EXPECT_TRUE(StyleTopmost());
  EXPECT_TRUE(top->Down());
  EXPECT_TRUE(Checked());
  EXPECT_EQ(events, (std::vector<bool>{true}));
  ClickButton();
  EXPECT_FALSE(StyleTopmost());
  EXPECT_FALSE(top->Down());
  EXPECT_FALSE(Checked());
  EXPECT_EQ(events, (std::vector<bool>{true, false}));
}

TEST_F(Topmost, MenuItemBehavesLikeTheButton) {
  ::SendMessageW(wnd, WM_SYSCOMMAND, static_cast<WPARAM>(top->ButtonId()), 0);
  EXPECT_TRUE(StyleTopmost());
  EXPECT_TRUE(top->Down());
  EXPECT_TRUE(Checked());
  EXPECT_EQ(events, (std::vector<bool>{true}));
  ::SendMessageW(wnd, WM_SYSCOMMAND, static_cast<WPARAM>(top->ButtonId()), 0);
  EXPECT_FALSE(StyleTopmost());
  EXPECT_EQ(events, (std::vector<bool>{true, false}));
}

TEST_F(Topmost, CodeChangesMoveTheButtonToo) {
  top->SetTopmostValue(true);
  EXPECT_TRUE(StyleTopmost());
  EXPECT_TRUE(top->Down());
  EXPECT_TRUE(Checked());
  EXPECT_EQ(events, (std::vector<bool>{true}));
}

TEST_F(Topmost, WindowAlreadyTopmostSendsNothing) {
  ::SetWindowPos(wnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  ASSERT_TRUE(StyleTopmost());
  top->SetTopmostValue(true);
  EXPECT_TRUE(events.empty());
  EXPECT_FALSE(top->Down());  // other code's change is seen only by the getter
  EXPECT_TRUE(top->Topmost());
}

TEST_F(Topmost, AnotherHookingComponentFollowsTheMessage) {
  std::vector<std::string> log;
  auto* probe = new TProbe(form, "probe", &log);
  probe->watch = WM_FORMHOOK_TOPMOST;
  top->SetTopmostValue(true);
  EXPECT_EQ(log, (std::vector<std::string>{"probe:before", "probe:after"}));
  EXPECT_TRUE(probe->GetTopmost());
}

// Keeps the window out of the topmost band, as a shell or another program
// might.
class TTopmostRefuser : public TcbFormHookComponent {
 public:
  explicit TTopmostRefuser(TComponent* owner) : TcbFormHookComponent(owner) {}
  ~TTopmostRefuser() override { BeginDestroy(); }

 protected:
  void BeforeHookedMessage(THookMessage& msg, bool&) override {
    if (msg.Msg == WM_WINDOWPOSCHANGING) reinterpret_cast<WINDOWPOS*>(msg.LParam)->flags |= SWP_NOZORDER;
  }
};

TEST_F(Topmost, RefusedChangeIsAnnouncedOnceAndDoesNotRecurse) {
  new TTopmostRefuser(form);
  top->SetTopmostValue(true);
  EXPECT_FALSE(StyleTopmost());
  EXPECT_EQ(events, (std::vector<bool>{true}));  // the change was asked for
}

TEST_F(Topmost, AnnouncementFromOutsideBringsTheWindowInStep) {
  ::SendMessageW(wnd, WM_FORMHOOK_TOPMOST, 1, 0);
  EXPECT_TRUE(StyleTopmost());
  EXPECT_TRUE(top->Down());
  // The hook applied it and announced it itself; the outer message adds one.
  EXPECT_EQ(events, (std::vector<bool>{true, true}));
}

TEST(TopmostLoaded, AlreadyTopmostFormShowsTheButtonDown) {
  TForm* form = MakeForm(300, 100);
  ::SetWindowPos(form->Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  form->BeginLoading();
  auto* top = new TFormTopmost(form);
  EXPECT_FALSE(top->Down());
  form->EndLoading();
  EXPECT_TRUE(top->Down());
  EXPECT_NE(::GetMenuState(::GetSystemMenu(form->Handle(), FALSE), static_cast<UINT>(top->ButtonId()),
                           MF_BYCOMMAND) &
                MF_CHECKED,
            0u);
  delete form;
}

}  // namespace
}  // namespace tarnwick::testing
