// With desktop composition the system draws the frame itself and hides
// whatever the caption buttons paint there; a window that carries them must
// ask for the classic frame, and no other window may be touched.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "DecorTestSupport.h"
#include "decor/CaptionButton.h"
#include "decor/FormRoller.h"
#include "decor/FormTopmost.h"
#include "decor/FormTrayIcon.h"
#include "ui/OptionalApi_win.h"

namespace tarnwick::testing {
namespace {

struct AttributeCall {
  HWND wnd;
  DWORD attribute;
  DWORD size;
  DWORD value;
};
std::vector<AttributeCall> calls;
HRESULT answer = S_OK;

HRESULT WINAPI RecordAttribute(HWND wnd, DWORD attribute, LPCVOID data, DWORD size) {
  DWORD value = 0xFFFFFFFF;
  if (data != nullptr && size == sizeof(DWORD)) value = *static_cast<const DWORD*>(data);
  calls.push_back({wnd, attribute, size, value});
  return answer;
}

class ClassicFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    saved_ = OptionalFunctions().DwmSetWindowAttribute;
    OptionalFunctions().DwmSetWindowAttribute = &RecordAttribute;
    calls.clear();
    answer = S_OK;
  }
  void TearDown() override {
    for (TForm* f : forms_) delete f;
    OptionalFunctions().DwmSetWindowAttribute = saved_;
  }
  TForm* Form() {
    forms_.push_back(MakeForm(300, 120));
    return forms_.back();
  }
  // Requests that switch the system's frame painting off for `wnd`.
  static int ClassicRequests(HWND wnd) {
    int n = 0;
    for (const AttributeCall& c : calls) {
      if (c.wnd == wnd && c.attribute == 2 /* DWMWA_NCRENDERING_POLICY */ && c.size == sizeof(DWORD) &&
          c.value == 1 /* DWMNCRP_DISABLED */)
        ++n;
    }
    return n;
  }

 private:
  decltype(OptionalApi::DwmSetWindowAttribute) saved_ = nullptr;
  std::vector<TForm*> forms_;
};

TEST_F(ClassicFrame, EveryKindOfCaptionButtonAsksForItsWindow) {
  const struct Row {
    const char* kind;
    std::function<void(TForm*)> make;
  } rows[] = {
      {"plain", [](TForm* f) { new TCustomCaptionButton(f); }},
      {"tray", [](TForm* f) { new TFormTrayIcon(f); }},
      {"roller", [](TForm* f) { new TFormRoller(f); }},
      {"topmost", [](TForm* f) { new TFormTopmost(f); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kind);
    TForm* form = Form();
    calls.clear();
    row.make(form);
    EXPECT_GE(ClassicRequests(form->Handle()), 1);
    for (const AttributeCall& c : calls) EXPECT_EQ(c.wnd, form->Handle());
  }
}

TEST_F(ClassicFrame, WindowsWithoutCaptionButtonsAreLeftAlone) {
  TForm* plain = Form();
  TForm* hooked = Form();
  std::vector<std::string> log;
  new TProbe(hooked, "probe", &log);
  ::RedrawWindow(hooked->Handle(), nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  Pump();
  EXPECT_TRUE(calls.empty());
  // A button on another form does not reach these two either.
  new TCustomCaptionButton(Form());
  EXPECT_EQ(ClassicRequests(plain->Handle()), 0);
  EXPECT_EQ(ClassicRequests(hooked->Handle()), 0);
}

TEST_F(ClassicFrame, RecreatedWindowIsAskedAgain) {
  TForm* form = Form();
  new TCustomCaptionButton(form);
  new TFormRoller(form);
  HWND old = form->Handle();
  calls.clear();
  ::DestroyWindow(old);
  Pump(100);
  HWND fresh = form->Handle();
  ASSERT_NE(fresh, old);
  EXPECT_GE(ClassicRequests(fresh), 1);
  EXPECT_EQ(ClassicRequests(old), 0);
}

// A system without the compositor's library, or one that refuses (Wine),
// keeps the buttons working as before.
TEST_F(ClassicFrame, MissingOrRefusingSystemChangesNothing) {
  const struct Row {
    const char* name;
    bool present;
    HRESULT result;
  } rows[] = {{"missing", false, S_OK}, {"refused", true, E_FAIL}, {"accepted", true, S_OK}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    OptionalFunctions().DwmSetWindowAttribute = row.present ? &RecordAttribute : nullptr;
    answer = row.result;
    calls.clear();
    TForm* form = Form();
    HWND wnd = form->Handle();
    auto* b = new TCustomCaptionButton(form);
    int clicks = 0;
    b->OnButtonClick = [&clicks](TObject*) { ++clicks; };
    ::RedrawWindow(wnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(ClassicRequests(wnd), row.present ? 1 : 0);
    const ButtonPlacement& r = b->ButtonRect();
    ASSERT_TRUE(r.paintable);
    POINT at{(r.rectLeft + r.rectRight) / 2 + 1, -::GetSystemMetrics(SM_CYCAPTION) / 2};
    ::ClientToScreen(wnd, &at);
    const LRESULT hit = SendAt(wnd, WM_NCHITTEST, 0, at);
    EXPECT_EQ(hit, b->ButtonId());
    SendAt(wnd, WM_NCLBUTTONDOWN, static_cast<WPARAM>(hit), at);
    SendAt(wnd, WM_NCLBUTTONUP, static_cast<WPARAM>(hit), at);
    EXPECT_EQ(clicks, 1);
  }
}

// The list looks in the system folder; every system that runs the program
// under test (Wine included) has the library and its function.
TEST(OptionalFunctionList, FindsTheCompositorFunction) {
  EXPECT_NE(OptionalFunctions().DwmSetWindowAttribute, nullptr);
}

}  // namespace
}  // namespace tarnwick::testing
