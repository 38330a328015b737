#include <gtest/gtest.h>

#include <memory>

#include "DecorTestSupport.h"
#include "base/Exception.h"
#include "decor/EntryPoints_win.h"
#include "ui/Application.h"

namespace tarnwick::testing {
namespace {

WNDPROC ProcOf(HWND wnd) { return reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(wnd, GWLP_WNDPROC)); }

class HookFramework : public ::testing::Test {
 protected:
  void SetUp() override {
    form = MakeForm();
    wnd = form->Handle();
    base = ProcOf(wnd);
  }
  void TearDown() override { delete form; }

  TForm* form = nullptr;
  HWND wnd = nullptr;
  WNDPROC base = nullptr;
  std::vector<std::string> log;
};

TEST_F(HookFramework, LaterComponentSeesMessagesFirstAndChainIsLinkedInListOrder) {
  auto* a = new TProbe(form, "a", &log);
  auto* b = new TProbe(form, "b", &log);
  EXPECT_EQ(a->OldWndProc(), base);
  EXPECT_EQ(b->OldWndProc(), a->HookProc());
  EXPECT_EQ(ProcOf(wnd), b->HookProc());
  ::SendMessageW(wnd, WM_USER + 5, 0, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"b:before", "a:before", "a:after", "b:after"}));
}

TEST_F(HookFramework, DestroyingTheEarlierComponentRelinksTheLaterToTheBase) {
  auto* a = new TProbe(form, "a", &log);
  auto* b = new TProbe(form, "b", &log);
  delete a;
  EXPECT_EQ(b->OldWndProc(), base);
  EXPECT_EQ(ProcOf(wnd), b->HookProc());
  ::SendMessageW(wnd, WM_USER + 5, 0, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"b:before", "b:after"}));
}

TEST_F(HookFramework, LastComponentGoneRestoresBaseAndFreesTheList) {
  const int boundBefore = BoundEntryPointCount();
  auto* a = new TProbe(form, "a", &log);
  ASSERT_NE(TcbHookList::Instance(), nullptr);
  HWND firstListWindow = TcbHookList::Instance()->Window();
  EXPECT_TRUE(::IsWindow(firstListWindow));
  delete a;
  EXPECT_EQ(ProcOf(wnd), base);
  EXPECT_EQ(TcbHookList::Instance(), nullptr);
  EXPECT_FALSE(::IsWindow(firstListWindow));
  EXPECT_EQ(BoundEntryPointCount(), boundBefore);
  auto* again = new TProbe(form, "again", &log);
  ASSERT_NE(TcbHookList::Instance(), nullptr);
  EXPECT_TRUE(::IsWindow(TcbHookList::Instance()->Window()));
  EXPECT_EQ(again->OldWndProc(), base);
  delete again;
}

TEST_F(HookFramework, RecreatedWindowIsRehookedOnceInTheOldOrder) {
  auto* a = new TProbe(form, "a", &log);
  auto* b = new TProbe(form, "b", &log);
  HWND listWindow = TcbHookList::Instance()->Window();
  ::DestroyWindow(wnd);
  // Exactly one request, from the innermost hook.
  int requests = 0;
  MSG msg;
  std::vector<MSG> pending;
  while (::PeekMessageW(&msg, listWindow, WM_FORMHOOK_REHOOK, WM_FORMHOOK_REHOOK, PM_REMOVE)) {
    ++requests;
    pending.push_back(msg);
  }
  EXPECT_EQ(requests, 1);
  for (MSG& m : pending) ::DispatchMessageW(&m);
  HWND fresh = form->Handle();
  ASSERT_NE(fresh, wnd);
  EXPECT_EQ(a->HookedWnd(), fresh);
  EXPECT_EQ(b->HookedWnd(), fresh);
  EXPECT_EQ(a->restored, 1);
  EXPECT_EQ(b->restored, 1);
  EXPECT_EQ(b->OldWndProc(), a->HookProc());
  EXPECT_EQ(ProcOf(fresh), b->HookProc());
  ::SendMessageW(fresh, WM_USER + 5, 0, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"b:before", "a:before", "a:after", "b:after"}));
}

TEST_F(HookFramework, HandledBeforeHandlerKeepsMessageFromFormButAfterHandlerRuns) {
  auto* a = new TProbe(form, "a", &log);
  a->swallow = WM_SETTEXT;
  a->swallowResult = 42;
  EXPECT_EQ(::SendMessageW(wnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"changed")), 42);
  wchar_t text[64] = {};
  ::GetWindowTextW(wnd, text, 64);
  EXPECT_STREQ(text, L"Decor test");
  EXPECT_EQ(log, (std::vector<std::string>{"a:after"}));
}

TEST_F(HookFramework, UtilityWindowAnswersEndOfSessionQueryWithOne) {
  auto* a = new TProbe(form, "a", &log);
  ASSERT_TRUE(::IsWindow(a->UtilityWnd()));
  EXPECT_EQ(::GetParent(a->UtilityWnd()), nullptr);  // top level, so broadcasts reach it
  EXPECT_FALSE(::IsWindowVisible(a->UtilityWnd()));
  EXPECT_EQ(::SendMessageW(a->UtilityWnd(), WM_QUERYENDSESSION, 0, 0), 1);
}

TEST_F(HookFramework, TwoFormsKeepIndependentChains) {
  TForm* other = MakeForm(200, 100);
  auto* a = new TProbe(form, "a", &log);
  auto* x = new TProbe(other, "x", &log);
  auto* b = new TProbe(form, "b", &log);
  EXPECT_EQ(b->OldWndProc(), a->HookProc());
  EXPECT_EQ(ProcOf(other->Handle()), x->HookProc());
  ::SendMessageW(other->Handle(), WM_USER + 5, 0, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"x:before", "x:after"}));
  delete other;
  EXPECT_EQ(ProcOf(wnd), b->HookProc());
  EXPECT_EQ(b->OldWndProc(), a->HookProc());
}

TEST_F(HookFramework, ErrorInAHookGoesToTheApplicationHandlerWithTheComponent) {
  auto* a = new TProbe(form, "a", &log);
  a->raiseOn = WM_USER + 9;
  TObject* sender = nullptr;
  std::string message;
  Application().OnException = [&](TObject* s, const std::exception& e) {
    sender = s;
    message = e.what();
  };
  EXPECT_EQ(::SendMessageW(wnd, WM_USER + 9, 0, 0), 0);
  Application().OnException = nullptr;
  EXPECT_EQ(sender, a);
  EXPECT_EQ(message, "probe a");
  // The chain still works afterwards.
  ::SendMessageW(wnd, WM_USER + 5, 0, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"a:before", "a:after"}));
}

TEST_F(HookFramework, DestroyingTheFormPostsNoRehook) {
  TForm* other = MakeForm(200, 100);
  new TProbe(other, "keeps the list alive", &log);
  new TProbe(form, "a", &log);
  HWND listWindow = TcbHookList::Instance()->Window();
  delete form;
  form = nullptr;
  ASSERT_TRUE(::IsWindow(listWindow));
  MSG msg;
  EXPECT_FALSE(::PeekMessageW(&msg, listWindow, WM_FORMHOOK_REHOOK, WM_FORMHOOK_REHOOK, PM_REMOVE));
  EXPECT_EQ(TcbHookList::Instance()->Count(), 1);
  delete other;
  EXPECT_EQ(TcbHookList::Instance(), nullptr);
}

struct CountingTarget final : WndProcTarget {
  int calls = 0;
  LRESULT EntryDispatch(HWND, UINT, WPARAM, LPARAM) noexcept override { return ++calls; }
};

TEST(EntryPoints, EachEntryReachesItsOwnTargetUntilAllAreTaken) {
  const int bound = BoundEntryPointCount();
  std::vector<CountingTarget> targets(static_cast<std::size_t>(kEntryPointCount - bound));
  std::vector<WNDPROC> procs;
  for (CountingTarget& t : targets) procs.push_back(AcquireEntryPoint(&t));
  EXPECT_EQ(BoundEntryPointCount(), kEntryPointCount);
  CountingTarget extra;
  try {
    AcquireEntryPoint(&extra);
    ADD_FAILURE() << "an entry point was handed out twice";
  } catch (const Exception& e) {
    EXPECT_EQ(e.ClassName(), "EOutOfResources");
  }
  // Each procedure reaches exactly its own target.
  ::CallWindowProcW(procs[3], nullptr, WM_NULL, 0, 0);
  ::CallWindowProcW(procs[3], nullptr, WM_NULL, 0, 0);
  ::CallWindowProcW(procs[0], nullptr, WM_NULL, 0, 0);
  EXPECT_EQ(targets[3].calls, 2);
  EXPECT_EQ(targets[0].calls, 1);
  EXPECT_EQ(targets[1].calls, 0);
  // A released one is free again and no longer reaches its old target.
  ReleaseEntryPoint(procs[1]);
  WNDPROC again = AcquireEntryPoint(&extra);
  EXPECT_EQ(again, procs[1]);
  ::CallWindowProcW(again, nullptr, WM_NULL, 0, 0);
  EXPECT_EQ(extra.calls, 1);
  EXPECT_EQ(targets[1].calls, 0);
  ReleaseEntryPoint(again);
  for (std::size_t i = 0; i < procs.size(); ++i) {
    if (i != 1) ReleaseEntryPoint(procs[i]);
  }
  EXPECT_EQ(BoundEntryPointCount(), bound);
}

}  // namespace
}  // namespace tarnwick::testing
