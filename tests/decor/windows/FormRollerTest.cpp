#include <gtest/gtest.h>

#include "DecorTestSupport.h"
#include "decor/FormRoller.h"
#include "decor/RollerFrames.h"

namespace tarnwick::testing {
namespace {

int ClientHeight(HWND wnd) {
  RECT rc{};
  ::GetClientRect(wnd, &rc);
  return rc.bottom - rc.top;
}

// Records the client height after every WM_SIZE the form gets.
class THeightProbe : public TcbFormHookComponent {
 public:
  explicit THeightProbe(TComponent* owner) : TcbFormHookComponent(owner) {}
  ~THeightProbe() override { BeginDestroy(); }
  std::vector<int> heights;

 protected:
  void AfterHookedMessage(THookMessage& msg) override {
    if (msg.Msg == WM_SIZE) heights.push_back(HIWORD(msg.LParam));
  }
};

class Roller : public ::testing::Test {
 protected:
  void SetUp() override {
    form = MakeForm(610, 311);
    wnd = form->Handle();
    roller = new TFormRoller(form);
    roller->SetHintRollUp(L"ロールアップ");
    roller->SetHintRollDown(L"ロールダウン");
    roller->OnRollerChanged = [this](TObject*, bool up) { events.push_back(up); };
  }
  void TearDown() override { delete form; }

  // Height of the region's bounding box, 0 when the window has none.
  int RegionHeight() {
    HRGN probe = ::CreateRectRgn(0, 0, 0, 0);
    int h = 0;
    if (::GetWindowRgn(wnd, probe) != ERROR) {
      RECT box{};
      ::GetRgnBox(probe, &box);
      h = box.bottom - box.top;
    }
    ::DeleteObject(probe);
    return h;
  }

  TForm* form = nullptr;
  HWND wnd = nullptr;
  TFormRoller* roller = nullptr;
  std::vector<bool> events;
};

// A roller nobody has configured: the fixture's own texts would only read
// back what SetUp wrote.
TEST(RollerDefaults, FreshRollerStartsDownWithItsOwnTexts) {
  TForm* form = MakeForm(300, 150);
  const int menuItems = ::GetMenuItemCount(::GetSystemMenu(form->Handle(), FALSE));
  auto* roller = new TFormRoller(form);
  EXPECT_TRUE(roller->Animate());
  EXPECT_EQ(roller->AnimateSpeed(), 8);
  EXPECT_EQ(roller->RemainHeight(), 0);
  EXPECT_FALSE(roller->RollUp());
  EXPECT_EQ(roller->HintRollUp(), L"Roll up");
  EXPECT_EQ(roller->HintRollDown(), L"Roll down");
  EXPECT_EQ(roller->CaptionButton().GetHint(), L"Roll up");
  EXPECT_EQ(roller->SystemMenu().GetCaption(), L"Roll up");
  EXPECT_EQ(roller->SystemMenu().GetPosition(), menuItems);
  EXPECT_TRUE(roller->SystemMenu().GetSeparators().before);
  EXPECT_FALSE(roller->SystemMenu().GetSeparators().after);
  EXPECT_FALSE(roller->SystemMenu().GetApplyToMenu());
  EXPECT_NE(roller->Glyph(), nullptr);
  delete form;
}

TEST_F(Roller, SetTextsTakeEffectWhileDown) {
  EXPECT_EQ(roller->CaptionButton().GetHint(), L"ロールアップ");
  EXPECT_EQ(roller->SystemMenu().GetCaption(), L"ロールアップ");
  // The roll-down text waits until the form is rolled up.
  roller->SetHintRollDown(L"下へ");
  EXPECT_EQ(roller->CaptionButton().GetHint(), L"ロールアップ");
  EXPECT_NE(roller->Glyph(), nullptr);
}

TEST_F(Roller, RollUpShrinksInFramesThenClipsToTheTitleBar) {
  ASSERT_EQ(ClientHeight(wnd), 311);
  auto* heights = new THeightProbe(form);
  roller->SetRollUp(true);
  EXPECT_TRUE(roller->RollUp());
  EXPECT_FALSE(roller->Busy());
  // The frames are the computed ones down to what the window allows.
  const std::vector<int> planned = RollUpFrames(311, 0, 8);
  ASSERT_FALSE(heights->heights.empty());
  const int floor = ClientHeight(wnd);
  std::vector<int> expected;
  for (int h : planned) {
    const int real = h < floor ? floor : h;
    if (real != 311 && (expected.empty() || expected.back() != real)) expected.push_back(real);
  }
  std::vector<int> seen;
  for (int h : heights->heights) {
    if (seen.empty() || seen.back() != h) seen.push_back(h);
  }
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(roller->RemainHeight(), floor);
  EXPECT_EQ(RegionHeight(), roller->RolledHeight());
  EXPECT_EQ(roller->CaptionButton().GetHint(), L"ロールダウン");
  EXPECT_EQ(events, (std::vector<bool>{true}));
}

TEST_F(Roller, RollDownRemovesTheRegionAndRestoresTheHeight) {
  roller->SetRollUp(true);
  roller->SetRollUp(false);
  EXPECT_FALSE(roller->RollUp());
  EXPECT_EQ(RegionHeight(), 0);
  EXPECT_EQ(ClientHeight(wnd), 311);
  EXPECT_EQ(roller->CaptionButton().GetHint(), L"ロールアップ");
  EXPECT_EQ(events, (std::vector<bool>{true, false}));
}

TEST_F(Roller, WithoutAnimationOnlyTheRegionChanges) {
  roller->SetAnimate(false);
  roller->SetRollUp(true);
  EXPECT_EQ(ClientHeight(wnd), 311);
  EXPECT_EQ(RegionHeight(), roller->RolledHeight());
  roller->SetRollUp(false);
  EXPECT_EQ(ClientHeight(wnd), 311);
  EXPECT_EQ(RegionHeight(), 0);
}

TEST_F(Roller, BordersDoNotResizeWhileRolledUp) {
  RECT wr{};
  ::GetWindowRect(wnd, &wr);
  const POINT leftEdge{wr.left + 1, wr.top + 60};
  EXPECT_EQ(SendAt(wnd, WM_NCHITTEST, 0, leftEdge), HTLEFT);
  roller->SetAnimate(false);
  roller->SetRollUp(true);
  EXPECT_EQ(SendAt(wnd, WM_NCHITTEST, 0, leftEdge), HTBORDER);
  const POINT corner{wr.right - 1, wr.bottom - 1};
  EXPECT_EQ(SendAt(wnd, WM_NCHITTEST, 0, corner), HTBORDER);
  roller->SetRollUp(false);
  EXPECT_EQ(SendAt(wnd, WM_NCHITTEST, 0, leftEdge), HTLEFT);
}

TEST_F(Roller, StripFollowsWidthAndRemainHeight) {
  roller->SetAnimate(false);
  roller->SetRollUp(true);
  const int rolled = roller->RolledHeight();
  roller->SetRemainHeight(20);
  EXPECT_EQ(RegionHeight(), rolled + 20);
  RECT wr{};
  ::GetWindowRect(wnd, &wr);
  ::SetWindowPos(wnd, nullptr, 0, 0, wr.right - wr.left + 50, wr.bottom - wr.top, SWP_NOMOVE | SWP_NOZORDER);
  HRGN probe = ::CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(::GetWindowRgn(wnd, probe), ERROR);
  RECT box{};
  ::GetRgnBox(probe, &box);
  ::DeleteObject(probe);
  EXPECT_EQ(box.right - box.left, wr.right - wr.left + 50);
}

TEST_F(Roller, RemainHeightWhileDownWaitsForTheNextRoll) {
  roller->SetRemainHeight(30);
  EXPECT_EQ(RegionHeight(), 0);
  roller->SetRollUp(true);
  EXPECT_GE(ClientHeight(wnd), 30);
  EXPECT_EQ(RegionHeight(), roller->RolledHeight());
}

TEST_F(Roller, SettingTheCurrentValueRaisesNoEvent) {
  roller->SetRollUp(false);
  EXPECT_TRUE(events.empty());
}

TEST_F(Roller, ButtonClickToggles) {
  roller->SetAnimate(false);
  ::RedrawWindow(wnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  const ButtonPlacement& r = roller->ButtonRect();
  POINT at{(r.rectLeft + r.rectRight) / 2 + 1, -::GetSystemMetrics(SM_CYCAPTION) / 2};
  ::ClientToScreen(wnd, &at);
  const LRESULT hit = SendAt(wnd, WM_NCHITTEST, 0, at);
  ASSERT_EQ(hit, roller->ButtonId());
  SendAt(wnd, WM_NCLBUTTONDOWN, static_cast<WPARAM>(hit), at);
  SendAt(wnd, WM_NCLBUTTONUP, static_cast<WPARAM>(hit), at);
  EXPECT_TRUE(roller->RollUp());
}

TEST_F(Roller, RecreatedWindowIsClippedAgain) {
  roller->SetAnimate(false);
  roller->SetRollUp(true);
  ::DestroyWindow(wnd);
  Pump(100);
  wnd = form->Handle();
  ASSERT_EQ(roller->HookedWnd(), wnd);
  EXPECT_EQ(RegionHeight(), roller->RolledHeight());
}

// A handler that fails in the middle of a roll must not block later rolls.
TEST_F(Roller, ErrorDuringARollLeavesItUsable) {
  roller->SetAnimate(false);
  roller->OnRollerChanged = [](TObject*, bool) { throw std::runtime_error("listener failed"); };
  EXPECT_THROW(roller->SetRollUp(true), std::runtime_error);
  EXPECT_FALSE(roller->Busy());
  roller->OnRollerChanged = nullptr;
  roller->SetRollUp(false);
  EXPECT_FALSE(roller->RollUp());
}

}  // namespace
}  // namespace tarnwick::testing
