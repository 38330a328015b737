// The application object and forms with real windows: the error hook, the
// modal loop, deferred release, keyboard accelerators, docking, the memo.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/Application.h"
#include "ui/Form.h"
#include "ui/StdCtrls.h"

namespace tarnwick {
namespace {

FormDef TestForm(BorderStyle border = BorderStyle::Dialog) {
  FormDef f;
  f.name = "Probe";
  f.caption = "probe form";
  f.clientWidth = 300;
  f.clientHeight = 200;
  f.border = border;
  f.font.face = "MS P ゴシック";
  f.font.height = 12;
  f.controls = {
      MakeControl(ControlKind::Panel, "Side", "", {0, 0, 80, 0}, "").Id(10).Dock(Align::Left).Tab(1),
      MakeControl(ControlKind::StatusBar, "Status", "", {0, 0, 0, 20}, "").Id(11).Dock(Align::Bottom),
      MakeControl(ControlKind::Button, "Ok", "", {100, 10, 75, 25}, "&Go").Id(12).Tab(0).Result(mrOk),
      MakeControl(ControlKind::Button, "Plain", "", {100, 40, 75, 25}, "&Plain").Id(13).Tab(2),
      MakeControl(ControlKind::Memo, "Memo", "", {100, 70, 150, 80}, "a\nb").Id(14).Tab(3),
      MakeControl(ControlKind::CheckBox, "Check", "Side", {4, 4, 70, 16}, "&Tick").Id(15).Tab(0),
  };
  return f;
}

class ProbeForm : public TForm {
 public:
  explicit ProbeForm(TComponent* owner, BorderStyle border = BorderStyle::Dialog) : TForm(owner) {
    BeginLoading();
    Build(TestForm(border));
    EndLoading();
  }
};

class ApplicationTest : public testing::Test {
 protected:
  void SetUp() override {
    Application().Initialize();
    Application().OnException = [this](TObject* sender, const std::exception& e) {
      ++errors;
      lastSender = sender;
      lastMessage = e.what();
    };
  }
  void TearDown() override { Application().OnException = nullptr; }
  int errors = 0;
  TObject* lastSender = nullptr;
  std::string lastMessage;
};

TEST_F(ApplicationTest, ExceptionInAClickHandlerReachesTheHookAndTheFormGoesOn) {
  std::unique_ptr<ProbeForm> form(new ProbeForm(nullptr));
  auto* plain = form->Control<TButton>("Plain");
  int clicks = 0;
  plain->OnClick = [&](TObject*) {
    ++clicks;
    if (clicks == 1) throw std::runtime_error("click failed");
  };
  ::SendMessageW(plain->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(lastMessage, "click failed");
  EXPECT_EQ(lastSender, static_cast<TObject*>(plain)) << "the control whose handler raised it";
  ::SendMessageW(plain->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(errors, 1);
}

TEST_F(ApplicationTest, NonStandardExceptionsAndFailingHooksAreContained) {
  std::unique_ptr<ProbeForm> form(new ProbeForm(nullptr));
  auto* plain = form->Control<TButton>("Plain");
  plain->OnClick = [](TObject*) { throw 42; };
  ::SendMessageW(plain->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(lastMessage, "unknown exception");
}

TEST_F(ApplicationTest, ModalFormEndsWithTheButtonsResultOrCancelOnClose) {
  struct Row {
    UINT msg;
    WPARAM wParam;
    bool toButton;
    int want;
  };
  const Row rows[] = {{BM_CLICK, 0, true, mrOk}, {WM_CLOSE, 0, false, mrCancel},
                      {WM_SYSCOMMAND, SC_CLOSE, false, mrCancel}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.msg);
    std::unique_ptr<ProbeForm> form(new ProbeForm(nullptr));
    HWND target = row.toButton ? form->Control<TButton>("Ok")->Handle() : form->Handle();
    ASSERT_TRUE(::PostMessageW(target, row.msg, row.wParam, 0));
    EXPECT_EQ(form->ShowModal(), row.want);
    EXPECT_FALSE(::IsWindowVisible(form->Handle()));
    EXPECT_FALSE(form->IsModal());
  }
}

TEST_F(ApplicationTest, ModalFormDisablesOtherWindowsOnlyWhileItRuns) {
  std::unique_ptr<ProbeForm> owner(new ProbeForm(nullptr, BorderStyle::Sizeable));
  owner->Show();
  auto* dialog = new ProbeForm(owner.get());
  bool ownerEnabledDuring = true;
  dialog->Control<TButton>("Plain")->OnClick = [&](TObject*) {
    ownerEnabledDuring = ::IsWindowEnabled(owner->Handle()) != FALSE;
    dialog->SetModalResult(mrCancel);
  };
  ::PostMessageW(dialog->Control<TButton>("Plain")->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(dialog->ShowModal(), mrCancel);
  EXPECT_FALSE(ownerEnabledDuring);
  EXPECT_TRUE(::IsWindowEnabled(owner->Handle()));
  // The dialog is owned by the form and goes with it.
  EXPECT_EQ(::GetWindow(dialog->Handle(), GW_OWNER), owner->Handle());
}

TEST_F(ApplicationTest, ReleasedFormLivesUntilQueuedMessagesAreHandled) {
  auto* form = new ProbeForm(nullptr);
  HWND wnd = form->Handle();
  bool destroyed = false;
  struct Watch : TComponent {
    bool* flag;
    Watch(bool* f) : TComponent(nullptr), flag(f) {}
    void Notification(TComponent*, Operation op) override {
      if (op == Operation::Remove) *flag = true;
    }
  } watch(&destroyed);
  watch.FreeNotification(form);
  Application().ReleaseForm(form);
  EXPECT_TRUE(::IsWindow(wnd));
  EXPECT_FALSE(destroyed);
  Application().ProcessMessages();
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(::IsWindow(wnd));
}

TEST_F(ApplicationTest, ReleaseOfAFormFreedMeanwhileIsIgnored) {
  static int destructions = 0;
  struct Counted : ProbeForm {
    using ProbeForm::ProbeForm;
    ~Counted() override { ++destructions; }
  };
  destructions = 0;
  auto* form = new Counted(nullptr);
  Application().ReleaseForm(form);
  delete form;  // its owner went first, say
  Application().ProcessMessages();  // must not free it again
  EXPECT_EQ(destructions, 1);
  // A release still pending frees the form exactly once.
  auto* second = new Counted(nullptr);
  Application().ReleaseForm(second);
  Application().ProcessMessages();
  Application().ProcessMessages();
  EXPECT_EQ(destructions, 2);
}

TEST_F(ApplicationTest, AltAcceleratorsClickButtonsAndCheckBoxes) {
  std::unique_ptr<ProbeForm> form(new ProbeForm(nullptr));
  form->Show();
  int plainClicks = 0;
  form->Control<TButton>("Plain")->OnClick = [&](TObject*) { ++plainClicks; };
  auto* check = form->Control<TCheckBox>("Check");
  EXPECT_TRUE(form->HandleMnemonic(U'p'));
  EXPECT_EQ(plainClicks, 1);
  EXPECT_FALSE(check->Checked());
  EXPECT_TRUE(form->HandleMnemonic(U'T'));
  EXPECT_TRUE(check->Checked());
  EXPECT_FALSE(form->HandleMnemonic(U'z'));
  // Through the loop, as the keyboard delivers it.
  ::PostMessageW(form->Control<TMemo>("Memo")->Handle(), WM_SYSCHAR, L'p', 0);
  Application().ProcessMessages();
  EXPECT_EQ(plainClicks, 2);
}

TEST_F(ApplicationTest, ComponentsMadeDuringLoadingAreLoadedOnceAfterwards) {
  // What a title-bar component sees of its owner form.
  struct Gadget : TComponent {
    explicit Gadget(TComponent* owner) : TComponent(owner) { loadingAtBirth = IsLoading(); }
    void Loaded() override {
      ++loadedCalls;
      ownerStillLoading = Owner()->IsLoading();
      TComponent::Loaded();
    }
    bool loadingAtBirth = false;
    bool ownerStillLoading = false;
    int loadedCalls = 0;
  };
  struct GadgetForm : TForm {
    explicit GadgetForm(TComponent* owner) : TForm(owner) {
      BeginLoading();
      Build(TestForm());
      during = new Gadget(this);
      EndLoading();
      after = new Gadget(this);
    }
    Gadget* during;
    Gadget* after;
  };
  std::unique_ptr<GadgetForm> form(new GadgetForm(nullptr));
  EXPECT_TRUE(form->during->loadingAtBirth);
  EXPECT_EQ(form->during->loadedCalls, 1);
  EXPECT_TRUE(form->during->ownerStillLoading) << "the form finishes its own loading last";
  EXPECT_FALSE(form->during->IsLoading());
  EXPECT_FALSE(form->IsLoading());
  EXPECT_FALSE(form->Control<TButton>("Ok")->IsLoading());
  EXPECT_FALSE(form->after->loadingAtBirth);
  EXPECT_EQ(form->after->loadedCalls, 0);
  // The window is made when first asked for, not before.
  EXPECT_FALSE(form->HandleAllocated());
  auto* owner = dynamic_cast<TForm*>(form->during->Owner());
  ASSERT_EQ(owner, form.get());
  HWND wnd = owner->Handle();
  EXPECT_TRUE(::IsWindow(wnd));
  EXPECT_EQ(owner->Handle(), wnd);
}

// Collects the texts of a message box of this thread and closes it.
struct BoxReader {
  static inline std::vector<std::wstring> texts;
  static inline std::wstring caption;
  static BOOL CALLBACK Child(HWND w, LPARAM) {
    wchar_t t[256] = {};
    ::GetWindowTextW(w, t, 256);
    texts.push_back(t);
    return TRUE;
  }
  static BOOL CALLBACK Top(HWND w, LPARAM) {
    wchar_t cls[64] = {};
    ::GetClassNameW(w, cls, 64);
    if (std::wstring(cls) != L"#32770" || !::IsWindowVisible(w)) return TRUE;
    wchar_t t[256] = {};
    ::GetWindowTextW(w, t, 256);
    caption = t;
    ::EnumChildWindows(w, &Child, 0);
    ::PostMessageW(w, WM_COMMAND, IDOK, 0);
    return FALSE;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (caption.empty()) ::EnumThreadWindows(::GetCurrentThreadId(), &Top, 0);
  }
};

TEST_F(ApplicationTest, WithoutAHandlerTheErrorTextIsShownInAMessageBox) {
  struct Row {
    bool failingHandler;
  };
  for (Row row : {Row{false}, Row{true}}) {
    SCOPED_TRACE(row.failingHandler);
    Application().SetTitle(L"Tarnwick");
    if (row.failingHandler)
      Application().OnException = [](TObject*, const std::exception&) { throw std::runtime_error("handler broke"); };
    else
      Application().OnException = nullptr;
    BoxReader::texts.clear();
    BoxReader::caption.clear();
    UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &BoxReader::Tick);
    Application().HandleException(nullptr, std::runtime_error("ファイル C:\\x は開けません"));
    ::KillTimer(nullptr, timer);
    EXPECT_EQ(BoxReader::caption, L"Tarnwick");
    EXPECT_NE(std::find(BoxReader::texts.begin(), BoxReader::texts.end(), L"ファイル C:\\x は開けません"),
              BoxReader::texts.end());
  }
}

TEST_F(ApplicationTest, TitleIsTheApplicationWindowsText) {
  Application().SetTitle(L"Tarnwick");
  wchar_t text[64] = {};
  ::GetWindowTextW(Application().Handle(), text, 64);
  EXPECT_STREQ(text, L"Tarnwick");
  EXPECT_EQ(Application().Title(), L"Tarnwick");
  EXPECT_EQ(::GetWindow(Application().Handle(), GW_OWNER), nullptr);
}

TEST_F(ApplicationTest, ActiveFormAndControlAreOursOrNull) {
  std::unique_ptr<ProbeForm> form(new ProbeForm(nullptr));
  form->Show();
  auto* memo = form->Control<TMemo>("Memo");
  // Other test programs share the desktop and may take the foreground for
  // a moment; ask again a bounded number of times.
  for (int attempt = 0; attempt < 50 && Application().ActiveControl() != memo; ++attempt) {
    ::SetForegroundWindow(form->Handle());
    memo->SetFocus();
    Application().ProcessMessages();
    if (Application().ActiveControl() != memo) ::Sleep(20);
  }
  EXPECT_EQ(Application().ActiveForm(), form.get());
  EXPECT_EQ(Application().ActiveControl(), memo);
  EXPECT_EQ(Application().ActiveForm()->ClassName(), "ProbeForm");
  form->Hide();
  HWND foreign = ::CreateWindowExW(0, L"EDIT", L"", WS_POPUP | WS_VISIBLE, 0, 0, 50, 20, nullptr, nullptr,
                                   nullptr, nullptr);
  ::SetActiveWindow(foreign);
  ::SetFocus(foreign);
  EXPECT_EQ(Application().ActiveForm(), nullptr);
  EXPECT_EQ(Application().ActiveControl(), nullptr);
  ::DestroyWindow(foreign);
}

TEST_F(ApplicationTest, DockingAndTabOrderReachTheWindows) {
  std::unique_ptr<ProbeForm> form(new ProbeForm(nullptr));
  HWND wnd = form->Handle();
  RECT client{};
  ::GetClientRect(wnd, &client);
  EXPECT_EQ(client.right, 300);
  EXPECT_EQ(client.bottom, 200);
  auto rectOf = [&](int id) {
    RECT r{};
    HWND child = ::GetDlgItem(wnd, id);
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, wnd, reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  RECT side = rectOf(10), status = rectOf(11);
  EXPECT_EQ(side.left, 0);
  EXPECT_EQ(side.right, 80);
  EXPECT_EQ(side.bottom, 180);
  EXPECT_EQ(status.top, 180);
  EXPECT_EQ(status.bottom, 200);
  EXPECT_EQ(status.right, 300);
  // Tab order: Ok (0), Side's check box (1), Plain (2), Memo (3).
  HWND first = ::GetNextDlgTabItem(wnd, nullptr, FALSE);
  EXPECT_EQ(::GetDlgCtrlID(first), 12);
  HWND second = ::GetNextDlgTabItem(wnd, first, FALSE);
  EXPECT_EQ(::GetDlgCtrlID(second), 15);
  HWND third = ::GetNextDlgTabItem(wnd, second, FALSE);
  EXPECT_EQ(::GetDlgCtrlID(third), 13);
  EXPECT_EQ(::GetDlgCtrlID(::GetNextDlgTabItem(wnd, third, FALSE)), 14);
}

TEST_F(ApplicationTest, MemoAppendsLinesWithoutALengthLimit) {
  std::unique_ptr<ProbeForm> form(new ProbeForm(nullptr));
  auto* memo = form->Control<TMemo>("Memo");
  EXPECT_EQ(memo->Lines(), (std::vector<std::wstring>{L"a", L"b"}));
  memo->AppendLine(L"");
  memo->AppendLine(L"日本語");
  EXPECT_EQ(memo->Lines(), (std::vector<std::wstring>{L"a", L"b", L"", L"日本語"}));
  // A last line typed without a break is finished before the next one.
  memo->SetText(memo->Text() + L"typed");
  memo->AppendLine(L"next");
  auto lines = memo->Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], L"typed");
  EXPECT_EQ(lines.back(), L"next");
  // Past the 32767 characters a plain edit control stops at.
  const std::wstring line(1000, L'x');
  for (int i = 0; i < 40; ++i) memo->AppendLine(line);
  EXPECT_GT(memo->Text().size(), 40000u);
  EXPECT_EQ(memo->Lines().back(), line);
}

// Paints the control the way its parent asks it to, into a bitmap, and
// reads one pixel back.
COLORREF OwnerDrawnPixel(TWinControl* control, int x, int y) {
  RECT rc{};
  ::GetClientRect(control->Handle(), &rc);
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, rc.right, rc.bottom);
  HGDIOBJ old = ::SelectObject(dc, bitmap);
  DRAWITEMSTRUCT dis{};
  dis.CtlType = ODT_BUTTON;
  dis.CtlID = static_cast<UINT>(control->ControlId());
  dis.itemAction = ODA_DRAWENTIRE;
  dis.hwndItem = control->Handle();
  dis.hDC = dc;
  dis.rcItem = rc;
  ::SendMessageW(::GetParent(control->Handle()), WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
  COLORREF pixel = ::GetPixel(dc, x, y);
  ::SelectObject(dc, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
  ::ReleaseDC(nullptr, screen);
  return pixel;
}

TEST_F(ApplicationTest, ButtonFaceIsSilverAndOrangeWhileTheMouseIsOverIt) {
  std::unique_ptr<ProbeForm> form(new ProbeForm(nullptr));
  form->Show();
  auto* button = form->Control<TButton>("Plain");
  HWND wnd = button->Handle();
  EXPECT_FALSE(button->Hot());
  EXPECT_EQ(OwnerDrawnPixel(button, 3, 3), RGB(192, 192, 192));
  ::SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_TRUE(button->Hot());
  EXPECT_EQ(OwnerDrawnPixel(button, 3, 3), RGB(255, 128, 64));
  ::SendMessageW(wnd, WM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(button->Hot());
  EXPECT_EQ(OwnerDrawnPixel(button, 3, 3), RGB(192, 192, 192));
}

TEST_F(ApplicationTest, LabelTextColourAndInheritedBackground) {
  FormDef def = TestForm();
  def.controls.push_back(MakeControl(ControlKind::Label, "Warn", "Side", {4, 30, 0, 0}, "赤")
                             .Id(16)
                             .Font([] {
                               FontDef f;
                               f.face = "MS P ゴシック";
                               f.height = 12;
                               f.underline = true;
                               f.color = colors::Red;
                               return f;
                             }()));
  def.controls[0].color = Color::FromRgb(240, 231, 187);
  struct Custom : TForm {
    Custom(const FormDef& d) : TForm(nullptr) {
      BeginLoading();
      Build(d);
      EndLoading();
    }
  };
  std::unique_ptr<Custom> form(new Custom(def));
  HWND label = form->Control<TLabel>("Warn")->Handle();
  RECT r{};
  ::GetClientRect(label, &r);
  EXPECT_GT(r.right, 0) << "sized to its caption";
  HDC dc = ::CreateCompatibleDC(nullptr);
  auto brush = reinterpret_cast<HBRUSH>(
      ::SendMessageW(::GetParent(label), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label)));
  EXPECT_EQ(::GetTextColor(dc), RGB(255, 0, 0));
  EXPECT_EQ(::GetBkColor(dc), RGB(240, 231, 187));
  LOGBRUSH lb{};
  ASSERT_NE(brush, nullptr);
  ::GetObjectW(brush, sizeof(lb), &lb);
  EXPECT_EQ(lb.lbColor, RGB(240, 231, 187));
  ::DeleteDC(dc);
}

TEST(SplitLines, BreaksAtCrLfAndLoneLf) {
  EXPECT_EQ(SplitLines(L""), (std::vector<std::wstring>{}));
  EXPECT_EQ(SplitLines(L"a"), (std::vector<std::wstring>{L"a"}));
  EXPECT_EQ(SplitLines(L"a\r\n"), (std::vector<std::wstring>{L"a"}));
  EXPECT_EQ(SplitLines(L"a\r\n\r\n"), (std::vector<std::wstring>{L"a", L""}));
  EXPECT_EQ(SplitLines(L"a\nb\r\nc"), (std::vector<std::wstring>{L"a", L"b", L"c"}));
  EXPECT_EQ(SplitLines(L"\r\n"), (std::vector<std::wstring>{L""}));
}

}  // namespace
}  // namespace tarnwick
