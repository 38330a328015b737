// clang-format off
// windows.h first: the other system headers build on it.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>
// clang-format on

#include <functional>

#include "DecorTestSupport.h"
#include "decor/EntryPoints_win.h"
#include "decor/FormTrayIcon.h"
#include "ui/Application.h"

namespace tarnwick::testing {
namespace {

class Tray : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    app = Application().Handle();
    form = Application().CreateForm<TForm>();
    ASSERT_EQ(Application().MainForm(), form);
    FormDef def;
    def.name = "TrayMain";
    def.caption = "Tray main";
    def.clientWidth = 400;
    def.clientHeight = 200;
    form->Build(def);
    ::ShowWindow(app, SW_SHOWNOACTIVATE);
    form->Show();
    wnd = form->Handle();
    tray = new TFormTrayIcon(form);
    tray->OnShow = [this](TObject*) { events.push_back("show"); };
    tray->OnHide = [this](TObject*) { events.push_back("hide"); };
    tray->OnMinimize = [this](TObject*) { events.push_back("minimize"); };
    tray->OnRestore = [this](TObject*) { events.push_back("restore"); };
    tray->OnClick = [this](TObject*) { events.push_back("click"); };
    tray->OnDblClick = [this](TObject*) { events.push_back("dblclick"); };
    ::RedrawWindow(wnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  }
  void TearDown() override {
    delete form;
    ::ShowWindow(app, SW_SHOWNOACTIVATE);
  }

  void ClickButton() {
    const ButtonPlacement& r = tray->ButtonRect();
    POINT at{(r.rectLeft + r.rectRight) / 2 + 1, -::GetSystemMetrics(SM_CYCAPTION) / 2};
    ::ClientToScreen(wnd, &at);
    const LRESULT hit = SendAt(wnd, WM_NCHITTEST, 0, at);
    ASSERT_EQ(hit, tray->ButtonId());
    SendAt(wnd, WM_NCLBUTTONDOWN, static_cast<WPARAM>(hit), at);
    SendAt(wnd, WM_NCLBUTTONUP, static_cast<WPARAM>(hit), at);
  }
  LRESULT Notify(UINT mouse) { return ::SendMessageW(tray->UtilityWnd(), WM_TRAYICON_NOTIFY, 0, mouse); }
  // Asks the shell itself about the component's icon: a change of nothing
  // succeeds only for an icon the shell holds.
  bool ShellCall(DWORD command) {
    NOTIFYICONDATAW key{};
    key.cbSize = NOTIFYICONDATAW_V1_SIZE;
    key.hWnd = tray->UtilityWnd();
    key.uID = 0;
    return ::Shell_NotifyIconW(command, &key) != FALSE;
  }
  bool ShellHasIcon() { return ShellCall(NIM_MODIFY); }

  HWND app = nullptr;
  TForm* form = nullptr;
  HWND wnd = nullptr;
  TFormTrayIcon* tray = nullptr;
  std::vector<std::string> events;
};

TEST_F(Tray, AsLoadedThereIsNoIconButAPictureIsReady) {
  EXPECT_FALSE(tray->Visible());
  EXPECT_NE(tray->CurrentIcon(), nullptr);  // the application's icon
  EXPECT_EQ(tray->Options(), kTrayDblClickRestore | kTrayShowAtDesignTime);
  EXPECT_EQ(tray->CaptionButton().GetHint(), L"Minimize to System Tray");
}

TEST_F(Tray, ButtonClickHidesApplicationAndFormAndAddsTheIcon) {
  ClickButton();
  EXPECT_TRUE(tray->Visible());
  EXPECT_FALSE(::IsWindowVisible(app));
  EXPECT_FALSE(::IsWindowVisible(wnd));
  EXPECT_FALSE(form->Visible());
  const NOTIFYICONDATAW& nd = tray->NotifyData();
  EXPECT_EQ(nd.hWnd, tray->UtilityWnd());
  EXPECT_EQ(nd.uCallbackMessage, WM_TRAYICON_NOTIFY);
  EXPECT_EQ(nd.hIcon, tray->CurrentIcon());
  EXPECT_NE(nd.hIcon, nullptr);
  EXPECT_STREQ(nd.szTip, L"");
  EXPECT_EQ(nd.uFlags, UINT{NIF_MESSAGE | NIF_ICON | NIF_TIP});
  EXPECT_EQ(events, (std::vector<std::string>{"show", "minimize"}));
}

TEST_F(Tray, DoubleClickOnTheIconBringsBothBackAndKeepsTheIcon) {
  ClickButton();
  events.clear();
  Notify(WM_LBUTTONDBLCLK);
  EXPECT_TRUE(::IsWindowVisible(app));
  EXPECT_TRUE(::IsWindowVisible(wnd));
  EXPECT_TRUE(tray->Visible());
  EXPECT_EQ(events, (std::vector<std::string>{"dblclick", "restore"}));
}

TEST_F(Tray, HideOnRestoreRemovesTheIconWhenRestoring) {
  tray->SetOptions(kTrayDblClickRestore | kTrayHideOnRestore);
  ClickButton();
  Notify(WM_LBUTTONDBLCLK);
  EXPECT_FALSE(tray->Visible());
  EXPECT_EQ(events, (std::vector<std::string>{"show", "minimize", "dblclick", "hide", "restore"}));
}

TEST_F(Tray, RemovingTheIconWhileHiddenBringsTheFormBack) {
  tray->MinimizeToTray();
  ASSERT_FALSE(::IsWindowVisible(wnd));
  tray->SetVisible(false);
  EXPECT_TRUE(::IsWindowVisible(wnd));
  EXPECT_TRUE(::IsWindowVisible(app));
}

TEST_F(Tray, FreeingTheComponentWhileMinimisedBringsTheFormBack) {
  tray->MinimizeToTray();
  ASSERT_FALSE(::IsWindowVisible(wnd));
  delete tray;
  tray = nullptr;
  EXPECT_TRUE(::IsWindowVisible(wnd));
  EXPECT_TRUE(::IsWindowVisible(app));
  EXPECT_EQ(events, (std::vector<std::string>{"show", "minimize", "hide", "restore"}));
}

TEST_F(Tray, FreeingTheFormWhileMinimisedShowsNothing) {
  tray->MinimizeToTray();
  events.clear();
  delete form;
  form = nullptr;
  EXPECT_EQ(events, (std::vector<std::string>{"hide"}));
  EXPECT_FALSE(::IsWindowVisible(app));
}

TEST_F(Tray, SingleClickNeedsThePressOnTheIcon) {
  tray->SetOptions(kTrayOneClickRestore);
  tray->MinimizeToTray();
  events.clear();
  Notify(WM_LBUTTONUP);  // no press seen first
  EXPECT_FALSE(::IsWindowVisible(wnd));
  Notify(WM_LBUTTONDOWN);
  Notify(WM_LBUTTONUP);
  EXPECT_TRUE(::IsWindowVisible(wnd));
  EXPECT_EQ(events, (std::vector<std::string>{"click", "restore"}));
}

TEST_F(Tray, MouseEventsCarryButtonAndShiftState) {
  std::vector<std::pair<TrayMouseButton, unsigned>> downs, ups;
  tray->OnMouseDown = [&](TObject*, TrayMouseButton b, unsigned s, int, int) { downs.push_back({b, s}); };
  tray->OnMouseUp = [&](TObject*, TrayMouseButton b, unsigned s, int, int) { ups.push_back({b, s}); };
  int popups = 0;
  tray->OnPopupMenu = [&](TObject*) { ++popups; };
  Notify(WM_RBUTTONDOWN);
  Notify(WM_RBUTTONUP);
  Notify(WM_MBUTTONDOWN);
  ASSERT_EQ(downs.size(), 2u);
  EXPECT_EQ(downs[0].first, TrayMouseButton::Right);
  EXPECT_NE(downs[0].second & kTrayShiftRight, 0u);
  EXPECT_EQ(downs[1].first, TrayMouseButton::Middle);
  EXPECT_NE(downs[1].second & kTrayShiftMiddle, 0u);
  ASSERT_EQ(ups.size(), 1u);
  EXPECT_NE(ups[0].second & kTrayShiftRight, 0u);
  EXPECT_EQ(popups, 0);  // no menu assigned
}

TEST_F(Tray, DoubleClickClicksTheMenuDefaultItemInsteadOfRestoring) {
  auto* menu = new TTrayPopupMenu(form);
  TTrayMenuItem* open = menu->Add(L"Open");
  open->Default = true;
  int opened = 0;
  open->OnClick = [&](TObject*) { ++opened; };
  tray->SetPopupMenu(menu);
  tray->MinimizeToTray();
  Notify(WM_LBUTTONDBLCLK);
  EXPECT_EQ(opened, 1);
  EXPECT_FALSE(::IsWindowVisible(wnd));
  delete menu;
  EXPECT_EQ(tray->PopupMenu(), nullptr);
}

TEST_F(Tray, MinimiseItemRunsItsOwnHandlerFirstAndItemsStandOpposite) {
  auto* menu = new TTrayPopupMenu(form);
  TTrayMenuItem* minimise = menu->Add(L"Minimise");
  TTrayMenuItem* restore = menu->Add(L"Restore");
  bool formVisibleInHandler = false;
  minimise->OnClick = [&](TObject* sender) {
    formVisibleInHandler = ::IsWindowVisible(wnd) != FALSE;
    EXPECT_EQ(sender, minimise);
  };
  tray->SetPopupMenuTrayMinimizeItem(minimise);
  tray->SetPopupMenuRestoreItem(restore);
  minimise->Click();
  EXPECT_TRUE(formVisibleInHandler);
  EXPECT_FALSE(::IsWindowVisible(wnd));
  EXPECT_FALSE(minimise->Enabled);
  EXPECT_TRUE(restore->Default);
  restore->Click();
  EXPECT_TRUE(::IsWindowVisible(wnd));
  EXPECT_TRUE(minimise->Default);
  EXPECT_FALSE(restore->Enabled);
}

TEST_F(Tray, AnimationCyclesThroughTheImageList) {
  HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 3, 0);
  for (int i = 0; i < 3; ++i) ImageList_AddIcon(list, ::LoadIconW(nullptr, IDI_APPLICATION));
  tray->SetAnimate(true);
  EXPECT_FALSE(tray->AnimationTimerRunning());  // no image list yet
  tray->SetAnimateInterval(0);
  tray->SetImageList(list);
  EXPECT_FALSE(tray->AnimationTimerRunning());  // no interval
  tray->SetAnimateInterval(200);
  EXPECT_TRUE(tray->AnimationTimerRunning());
  std::vector<int> seen{tray->ImageIndex()};
  for (int i = 0; i < 3; ++i) {
    ::SendMessageW(tray->UtilityWnd(), WM_TIMER, 1, 0);
    seen.push_back(tray->ImageIndex());
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 0}));
  tray->SetImageList(nullptr);
  EXPECT_FALSE(tray->Animate());
  EXPECT_FALSE(tray->AnimationTimerRunning());
  ImageList_Destroy(list);
}

TEST_F(Tray, EndOfSessionRemovesTheIconAndStillAgrees) {
  tray->MinimizeToTray();
  EXPECT_EQ(::SendMessageW(tray->UtilityWnd(), WM_QUERYENDSESSION, 0, 0), 1);
  EXPECT_FALSE(tray->Visible());
  EXPECT_TRUE(::IsWindowVisible(wnd));
}

TEST_F(Tray, LongTextsAreCutToTheirFields) {
  tray->SetHint(std::wstring(300, L'あ'));
  tray->SetVisible(true);
  EXPECT_EQ(std::wstring(tray->NotifyData().szTip).size(), 127u);
  tray->SetShowHint(false);
  EXPECT_STREQ(tray->NotifyData().szTip, L"");
  tray->Win2kInfoBalloon().Text = std::wstring(400, L'x');
  tray->Win2kInfoBalloon().Title = std::wstring(100, L'y');
  tray->ShowBalloon();
  const NOTIFYICONDATAW& nd = tray->NotifyData();
  if (nd.uFlags & NIF_INFO) {
    EXPECT_EQ(std::wstring(nd.szInfo).size(), 255u);
    EXPECT_EQ(std::wstring(nd.szInfoTitle).size(), 63u);
    EXPECT_EQ(nd.cbSize, sizeof(NOTIFYICONDATAW));
  } else {
    EXPECT_EQ(nd.cbSize, UINT{NOTIFYICONDATAW_V1_SIZE});
  }
}

TEST_F(Tray, MinimisingTheApplicationGoesToTheTrayWhenAsked) {
  ::SendMessageW(app, WM_SIZE, SIZE_MINIMIZED, 0);
  EXPECT_FALSE(tray->Visible());
  tray->SetOptions(kTrayDblClickRestore | kTrayMinimizeToTray);
  ::SendMessageW(app, WM_SIZE, SIZE_MINIMIZED, 0);
  EXPECT_TRUE(tray->Visible());
  EXPECT_FALSE(::IsWindowVisible(wnd));
}

TEST_F(Tray, ExplorerRestartAddsTheIconAgain) {
  const UINT taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
  for (bool visible : {true, false}) {
    SCOPED_TRACE(visible ? "icon shown" : "icon hidden");
    tray->SetVisible(visible);
    ASSERT_EQ(ShellHasIcon(), visible);
    // A restarted shell has forgotten every icon.
    if (visible) {
      ASSERT_TRUE(ShellCall(NIM_DELETE));
    }
    ASSERT_FALSE(ShellHasIcon());
    ::SendMessageW(tray->UtilityWnd(), taskbarCreated, 0, 0);
    EXPECT_EQ(ShellHasIcon(), visible);
    EXPECT_EQ(tray->Visible(), visible);
  }
}

TEST_F(Tray, RestoringMakesTheFormTheActiveForegroundWindow) {
  const struct Row {
    const char* name;
    std::function<void()> restore;
  } rows[] = {
      {"double click", [this] { Notify(WM_LBUTTONDBLCLK); }},
      {"direct call", [this] { tray->RestoreFromTray(); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ClickButton();
    ASSERT_FALSE(::IsWindowVisible(wnd));
    // Meanwhile the user works in another window.
    TForm* other = MakeForm(200, 100);
    ::SetForegroundWindow(other->Handle());
    Pump();
    ASSERT_EQ(::GetForegroundWindow(), other->Handle());
    row.restore();
    Pump();
    EXPECT_EQ(::GetForegroundWindow(), wnd);
    EXPECT_EQ(::GetActiveWindow(), wnd);
    delete other;
  }
}

// Two tray components freed in the order they were made: the application
// window must still lead to its own procedure, never to a dead entry point.
TEST(TrayApplicationHook, FreeingOutOfOrderKeepsTheApplicationWindowChain) {
  EnsureApplication();
  HWND app = Application().Handle();
  const auto original = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(app, GWLP_WNDPROC));
  TForm* first = MakeForm(200, 100);
  TForm* second = MakeForm(200, 100);
  new TFormTrayIcon(first);
  new TFormTrayIcon(second);
  delete first;  // not the one on top of the chain
  auto current = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(app, GWLP_WNDPROC));
  EXPECT_TRUE(current == original || IsEntryPointBound(current));
  delete second;
  current = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(app, GWLP_WNDPROC));
  EXPECT_TRUE(current == original || IsEntryPointBound(current));
  // Whatever the chain, a message still reaches the application's own
  // procedure: its title comes back.
  wchar_t title[64] = {};
  ::SetWindowTextW(app, L"chain intact");
  ::GetWindowTextW(app, title, 64);
  EXPECT_STREQ(title, L"chain intact");
}

TEST(TrayOtherForm, OnlyTheFormHidesWhenItIsNotTheMainForm) {
  TForm* other = MakeForm(200, 100);
  ASSERT_NE(Application().MainForm(), other);
  ::ShowWindow(Application().Handle(), SW_SHOWNOACTIVATE);
  auto* tray = new TFormTrayIcon(other);
  tray->MinimizeToTray();
  EXPECT_FALSE(::IsWindowVisible(other->Handle()));
  EXPECT_TRUE(::IsWindowVisible(Application().Handle()));
  tray->RestoreFromTray();
  EXPECT_TRUE(::IsWindowVisible(other->Handle()));
  EXPECT_EQ(::GetForegroundWindow(), other->Handle());
  EXPECT_EQ(::GetActiveWindow(), other->Handle());
  delete other;
}

}  // namespace
}  // namespace tarnwick::testing
