// The real main window in process: controls, texts, initial values, tab
// order, sizes and fonts; the buttons clicked with BM_CLICK; modal dialogs
// answered from a timer, as a user would.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/AboutForm.h"
#include "ThreadWindows.h"
#include "app/ControlIds.h"
#include "app/MainForm.h"
#include "app/TransferOperations.h"
#include "app/WorkLogText.h"
#include "base/Exception.h"
#include "base/TextCodec.h"
#include "ui/Application.h"

namespace tarnwick {
namespace {

// An engine that fails every transfer, so no file dialog appears.
struct FailingEngine : ITransferEngine {
  std::string host, port;
  void SetServerHost(const std::string& h) override { host = h; }
  std::string ServerHost() const override { return host; }
  void SetServerPort(const std::string& p) override { port = p; }
  std::string ServerPort() const override { return port; }
  bool GetFile(const std::string& n) override {
    requested.push_back(n);
    return false;
  }
  bool PutFile(const std::string& n) override {
    requested.push_back(n);
    return false;
  }
  void SaveContentToFile(const std::string&) override {}
  void LoadContentFromFile(const std::string&) override {}
  std::int32_t PeerErrorCode() const override { return 1; }
  std::string PeerErrorBytes() const override { return "File not found"; }
  static inline std::vector<std::string> requested;
};

// Runs `action` on the message loop every 50 ms until it returns true; a
// modal loop started by the test drives it.
class TimerAction {
 public:
  explicit TimerAction(std::function<bool()> action) : action_(std::move(action)) {
    current_ = this;
    id_ = ::SetTimer(nullptr, 0, 50, &TimerAction::Tick);
  }
  ~TimerAction() {
    ::KillTimer(nullptr, id_);
    current_ = nullptr;
  }
  int fired = 0;

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (current_ != nullptr && current_->action_ && current_->action_()) {
      ++current_->fired;
      current_->action_ = nullptr;
    }
  }
  static inline TimerAction* current_ = nullptr;
  std::function<bool()> action_;
  UINT_PTR id_;
};

BOOL CALLBACK CountOne(HWND, LPARAM p) {
  ++*reinterpret_cast<int*>(p);
  return TRUE;
}

int CountThreadWindows() {
  int count = 0;
  ::EnumThreadWindows(::GetCurrentThreadId(), &CountOne, reinterpret_cast<LPARAM>(&count));
  return count;
}

struct ItemSearch {
  int id;
  HWND found;
};

BOOL CALLBACK MatchId(HWND w, LPARAM p) {
  auto* search = reinterpret_cast<ItemSearch*>(p);
  if (::GetDlgCtrlID(w) != search->id) return TRUE;
  search->found = w;
  return FALSE;
}

// Finds the form's control by id anywhere below the window.
HWND Item(HWND root, int id) {
  ItemSearch search{id, nullptr};
  ::EnumChildWindows(root, &MatchId, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring TextOf(HWND w) {
  wchar_t buf[512] = {};
  ::GetWindowTextW(w, buf, 512);
  return buf;
}

class MainFormTest : public testing::Test {
 protected:
  void SetUp() override {
    Application().Initialize();
    Application().OnException = [this](TObject*, const std::exception& e) { errors.push_back(e.what()); };
    form = Application().CreateForm<TForm1>();
    form->SetEngineFactory([] { return std::unique_ptr<ITransferEngine>(new FailingEngine()); });
    form->Show();
    wnd = form->Handle();
    FailingEngine::requested.clear();
  }
  void TearDown() override {
    delete form;
    Application().OnException = nullptr;
  }
  std::vector<std::wstring> LogLines() { return form->Log->Lines(); }
  void Click(int id) { ::SendMessageW(Item(wnd, id), BM_CLICK, 0, 0); }

  TForm1* form = nullptr;
  HWND wnd = nullptr;
  std::vector<std::string> errors;
};

TEST_F(MainFormTest, WindowCaptionSizeAndPlacement) {
  EXPECT_EQ(TextOf(wnd), L"Tarnwick LE");
  RECT client{};
  ::GetClientRect(wnd, &client);
  EXPECT_EQ(client.right, 610);
  EXPECT_EQ(client.bottom, 311);
  RECT outer{};
  ::GetWindowRect(wnd, &outer);
  const int cx = (outer.left + outer.right) / 2, cy = (outer.top + outer.bottom) / 2;
  EXPECT_NEAR(cx, ::GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR(cy, ::GetSystemMetrics(SM_CYSCREEN) / 2, 1);
  LONG style = ::GetWindowLongW(wnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_THICKFRAME);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_TRUE(style & WS_MAXIMIZEBOX);
  EXPECT_TRUE(style & WS_SYSMENU);
  // Owned by the application window, which carries the task-bar button.
  EXPECT_EQ(::GetWindow(wnd, GW_OWNER), Application().Handle());
}

TEST_F(MainFormTest, ControlsShowTheirCaptionsAndInitialValues) {
  struct Row {
    int id;
    const wchar_t* text;
  };
  const Row rows[] = {
      {ids::GroupBox1, L"接続先"},          {ids::Label2, L"ホストIP"},
      {ids::Label3, L"ポート番号"},         {ids::Label4, L"ファイル名"},
      {ids::Label1, L"パスワード"},         {ids::Label5, L"区切り文字"},
      {ids::Label6, L"初期値 udp/69"},      {ids::TargetSystemEdit, L"127.0.0.1"},
      {ids::TargetPortEdit, L"69"},         {ids::TargetFileEdit, L"config"},
      {ids::Password, L""},                 {ids::Delimiter, L"/"},
      {ids::ckbMaskPassword, L"パスワードをログに表示しない"},
      {ids::ckbShowConfirm, L"ファイル送信前に確認しない"},
      {ids::BGetFile, L"ファイルを受信(&R)"}, {ids::BPutFile, L"ファイルを送信(&S)"},
      {ids::BAbout, L"このアプリケーションについて(&A)"}, {ids::BExit, L"終了(&Q)"},
      {ids::GroupBox2, L"作業ログ"},        {ids::Log, L""},
      {ids::StatusBar1, L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.id);
    HWND item = Item(wnd, row.id);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(TextOf(item), row.text);
  }
  EXPECT_EQ(::SendMessageW(Item(wnd, ids::ckbMaskPassword), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(::SendMessageW(Item(wnd, ids::ckbShowConfirm), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  HWND password = Item(wnd, ids::Password);
  EXPECT_EQ(::SendMessageW(password, EM_GETPASSWORDCHAR, 0, 0), L'*');
  EXPECT_EQ(::GetWindowLongW(Item(wnd, ids::Log), GWL_STYLE) & ES_READONLY, 0);
}

TEST_F(MainFormTest, PositionsWithinTheirContainers) {
  auto rectIn = [&](int id) {
    HWND item = Item(wnd, id);
    RECT r{};
    ::GetWindowRect(item, &r);
    ::MapWindowPoints(nullptr, ::GetParent(item), reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  struct Row {
    int id, left, top, width, height;  // height 0: not checked
  };
  const Row rows[] = {
      {ids::Panel1, 0, 0, 217, 291},      {ids::Panel2, 217, 0, 393, 291},
      {ids::StatusBar1, 0, 291, 610, 20}, {ids::GroupBox1, 0, 0, 217, 176},
      {ids::TargetSystemEdit, 81, 16, 121, 0}, {ids::TargetPortEdit, 80, 40, 37, 0},
      {ids::Password, 80, 87, 121, 0},    {ids::ckbShowConfirm, 8, 152, 185, 0},
      {ids::BGetFile, 2, 180, 213, 25},   {ids::BExit, 2, 264, 213, 25},
      {ids::Label6, 125, 42, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.id);
    RECT r = rectIn(row.id);
    EXPECT_EQ(r.left, row.left);
    EXPECT_EQ(r.top, row.top);
    if (row.width != 0) {
      EXPECT_EQ(r.right - r.left, row.width);
    }
    if (row.height != 0) {
      EXPECT_EQ(r.bottom - r.top, row.height);
    }
  }
  // The log fills its group box below the caption.
  RECT log = rectIn(ids::Log);
  RECT box = rectIn(ids::GroupBox2);
  EXPECT_GT(log.top, 0);
  EXPECT_LE(log.right, box.right - box.left);
  EXPECT_GT(log.bottom - log.top, 250);
}

TEST_F(MainFormTest, ResizingKeepsTheLeftPanelAndGrowsTheLog) {
  auto size = [](HWND w) {
    RECT r{};
    ::GetWindowRect(w, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
  };
  HWND log = Item(wnd, ids::Log);
  HWND panel1 = Item(wnd, ids::Panel1);
  HWND status = Item(wnd, ids::StatusBar1);
  SIZE logBefore = size(log);
  RECT outer{};
  ::GetWindowRect(wnd, &outer);
  struct Row {
    int dw, dh;
  };
  for (Row row : {Row{100, 50}, Row{-200, -100}, Row{0, 0}}) {
    SCOPED_TRACE(row.dw);
    ::SetWindowPos(wnd, nullptr, 0, 0, outer.right - outer.left + row.dw, outer.bottom - outer.top + row.dh,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client{};
    ::GetClientRect(wnd, &client);
    EXPECT_EQ(size(panel1).cx, 217);
    EXPECT_EQ(size(panel1).cy, client.bottom - 20);
    EXPECT_EQ(size(status).cx, client.right);
    EXPECT_EQ(size(log).cx, logBefore.cx + (client.right - 610));
    EXPECT_EQ(size(log).cy, logBefore.cy + (client.bottom - 311));
  }
}

TEST_F(MainFormTest, TabOrderFollowsTheDefinition) {
  const int want[] = {ids::TargetSystemEdit, ids::TargetPortEdit, ids::TargetFileEdit, ids::Password,
                      ids::Delimiter,        ids::ckbMaskPassword, ids::ckbShowConfirm, ids::BGetFile,
                      ids::BPutFile,         ids::BAbout,          ids::BExit,          ids::Log};
  HWND at = ::GetNextDlgTabItem(wnd, nullptr, FALSE);
  for (int id : want) {
    SCOPED_TRACE(id);
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(::GetDlgCtrlID(at), id);
    at = ::GetNextDlgTabItem(wnd, at, FALSE);
  }
  EXPECT_EQ(::GetDlgCtrlID(at), ids::TargetSystemEdit) << "wraps to the first";
}

TEST_F(MainFormTest, FontsHaveTheDescribedFacesAndHeights) {
  struct Row {
    int id;
    int height;
    bool underline;
  };
  const Row rows[] = {{ids::TargetSystemEdit, -12, false}, {ids::Label6, -12, true}, {ids::BGetFile, -12, false},
                      {ids::Log, -12, false},              {ids::GroupBox2, -11, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.id);
    auto font = reinterpret_cast<HFONT>(::SendMessageW(Item(wnd, row.id), WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTW lf{};
    ASSERT_GT(::GetObjectW(font, sizeof(lf), &lf), 0);
    EXPECT_STREQ(lf.lfFaceName, L"MS P ゴシック");
    EXPECT_EQ(lf.lfHeight, row.height);
    EXPECT_EQ(lf.lfUnderline != 0, row.underline);
  }
}

TEST_F(MainFormTest, FailedReceiveWritesItsBlockWithoutAnyDialog) {
  ::SetWindowTextW(Item(wnd, ids::Password), L"secret");
  Click(ids::BGetFile);
  auto lines = LogLines();
  std::vector<std::wstring> want = {
      L"--- 操作：ファイルの受信 ---",
      L"Tarnwick ソケットを生成しました",
      L"接続先（IPアドレス）：127.0.0.1",
      L"接続先（ポート番号）：69",
      L"受信中...：",
      L"  ホスト上のファイル名：config",
      L"受信中に何らかのエラーが発生しました",
      L"ホストから返ってきたエラーコード：1 - File not found",
      L"Tarnwick ソケットを破棄しました",
      L"",
  };
  EXPECT_EQ(lines, want);
  EXPECT_EQ(FailingEngine::requested, (std::vector<std::string>{"config/secret"}));
  EXPECT_EQ(form->RunningEngine(), nullptr);
  // The log only grows: a second operation appends its block.
  Click(ids::BGetFile);
  EXPECT_EQ(LogLines().size(), 20u);
}

TEST_F(MainFormTest, DeclinedConfirmationWritesTwoLinesAndLeavesNoDialog) {
  int before = CountThreadWindows();
  TimerAction answer([] {
    HWND dialog = testing_support::FindThreadWindow(L"ファイル送信の確認");
    if (dialog == nullptr || !::IsWindowVisible(dialog)) return false;
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);  // the title-bar close
    return true;
  });
  Click(ids::BPutFile);
  EXPECT_EQ(answer.fired, 1);
  EXPECT_EQ(LogLines(), (std::vector<std::wstring>{L"--- 操作：ファイルの送信 ---", L"送信処理がキャンセルされました"}));
  EXPECT_EQ(testing_support::FindThreadWindow(L"ファイル送信の確認"), nullptr);
  EXPECT_EQ(CountThreadWindows(), before);
  EXPECT_TRUE(::IsWindowEnabled(wnd));
}

TEST_F(MainFormTest, ConfirmedSendThenCancelledOpenDialogWritesThreeLines) {
  int stage = 0;
  TimerAction answer([&stage] {
    if (stage == 0) {
      HWND dialog = testing_support::FindThreadWindow(L"ファイル送信の確認");
      if (dialog == nullptr || !::IsWindowVisible(dialog)) return false;
      ::PostMessageW(::GetDlgItem(dialog, ids::ConfirmExecute), BM_CLICK, 0, 0);
      stage = 1;
      return false;
    }
    HWND open = testing_support::FindThreadWindow(L"Select File to put ...");
    if (open == nullptr) return false;
    ::PostMessageW(open, WM_COMMAND, IDCANCEL, 0);
    return true;
  });
  Click(ids::BPutFile);
  EXPECT_EQ(answer.fired, 1);
  EXPECT_EQ(LogLines(), (std::vector<std::wstring>{L"--- 操作：ファイルの送信 ---", L"処理がキャンセルされました", L""}));
  EXPECT_TRUE(FailingEngine::requested.empty());
}

TEST_F(MainFormTest, TickedSkipBoxGoesStraightToTheOpenDialog) {
  ::SendMessageW(Item(wnd, ids::ckbShowConfirm), BM_CLICK, 0, 0);
  ASSERT_TRUE(form->ckbShowConfirm->Checked());
  bool confirmSeen = false;
  TimerAction answer([&confirmSeen] {
    if (testing_support::FindThreadWindow(L"ファイル送信の確認") != nullptr) confirmSeen = true;
    HWND open = testing_support::FindThreadWindow(L"Select File to put ...");
    if (open == nullptr) return false;
    ::PostMessageW(open, WM_COMMAND, IDCANCEL, 0);
    return true;
  });
  Click(ids::BPutFile);
  EXPECT_EQ(answer.fired, 1);
  EXPECT_FALSE(confirmSeen);
  EXPECT_EQ(LogLines().size(), 3u);
}

TEST_F(MainFormTest, AboutOpenedAndClosedManyTimesLeavesNoWindowBehind) {
  int before = CountThreadWindows();
  for (int round = 0; round < 15; ++round) {
    SCOPED_TRACE(round);
    TimerAction close([round] {
      if (About == nullptr || !About->HandleAllocated() || !::IsWindowVisible(About->Handle())) return false;
      if (round % 2 == 0)
        ::PostMessageW(::GetDlgItem(About->Handle(), ids::AboutClose), BM_CLICK, 0, 0);
      else
        ::PostMessageW(About->Handle(), WM_CLOSE, 0, 0);
      return true;
    });
    Click(ids::BAbout);
    EXPECT_EQ(close.fired, 1);
    Application().ProcessMessages();
    EXPECT_EQ(About, nullptr);
    EXPECT_EQ(testing_support::FindThreadWindow(L"このアプリケーションについて"), nullptr);
  }
  EXPECT_EQ(CountThreadWindows(), before);
  EXPECT_TRUE(errors.empty());
}

TEST_F(MainFormTest, AboutShowsTheFixedTextReadOnlyWithAVerticalScrollBarOnly) {
  std::vector<std::wstring> lines;
  LONG style = 0;
  TimerAction close([&] {
    if (About == nullptr || !About->HandleAllocated() || !::IsWindowVisible(About->Handle())) return false;
    lines = About->Memo1->Lines();
    style = ::GetWindowLongW(About->Memo1->Handle(), GWL_STYLE);
    ::PostMessageW(About->Handle(), WM_CLOSE, 0, 0);
    return true;
  });
  Click(ids::BAbout);
  ASSERT_EQ(lines.size(), 78u);
  EXPECT_EQ(lines[7], L"■Tarnwick について");
  EXPECT_TRUE(style & ES_READONLY);
  EXPECT_TRUE(style & WS_VSCROLL);
  EXPECT_FALSE(style & WS_HSCROLL);
  Application().ProcessMessages();
}

TEST_F(MainFormTest, ErrorInAnOperationGoesToTheHookAndReleasesTheEngine) {
  static int alive = 0;
  struct Exploding : FailingEngine {
    Exploding() { ++alive; }
    ~Exploding() override { --alive; }
    void SetServerPort(const std::string&) override { throw Exception("EConvertError", "bad port"); }
  };
  form->SetEngineFactory([] { return std::unique_ptr<ITransferEngine>(new Exploding()); });
  Click(ids::BGetFile);
  EXPECT_EQ(errors, (std::vector<std::string>{"bad port"}));
  EXPECT_EQ(alive, 0);
  EXPECT_EQ(form->RunningEngine(), nullptr);
  EXPECT_EQ(LogLines().size(), 3u);  // header, engine created, host line
  // The window goes on working.
  form->SetEngineFactory([] { return std::unique_ptr<ITransferEngine>(new FailingEngine()); });
  Click(ids::BGetFile);
  EXPECT_EQ(LogLines().size(), 13u);
}

// The real save dialog, handed a record of a size it does not know: the
// system refuses to show it and reports why (CDERR_STRUCTSIZE) through
// CommDlgExtendedError.
class BadRecordSaveDialog : public TSaveDialog {
 public:
  using TSaveDialog::TSaveDialog;

 protected:
  BOOL Call(OPENFILENAMEW& ofn) override {
    ofn.lStructSize = 7;
    return TSaveDialog::Call(ofn);
  }
};

TEST_F(MainFormTest, SaveDialogThatFailsIsAnErrorNotACancelledReceive) {
  struct Receiving : FailingEngine {
    bool GetFile(const std::string& n) override {
      requested.push_back(n);
      return true;
    }
  };
  form->SetEngineFactory([] { return std::unique_ptr<ITransferEngine>(new Receiving()); });
  form->SaveDialog = new BadRecordSaveDialog(form);
  form->SaveDialog->title = L"Save File ...";
  // Should a dialog show after all, close it, so the test fails instead of
  // waiting for a user.
  TimerAction closer([] {
    HWND save = testing_support::FindThreadWindow(L"Save File ...");
    if (save == nullptr) return false;
    ::PostMessageW(save, WM_COMMAND, IDCANCEL, 0);
    return true;
  });
  Click(ids::BGetFile);
  EXPECT_EQ(closer.fired, 0) << "the dialog was expected to fail, not to show";
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("CommDlgExtendedError 0x0001 CDERR_STRUCTSIZE"), std::string::npos)
      << errors[0];
  // Stopped like any raised error: after the host-file line, no cancel line.
  const std::vector<std::wstring> lines = LogLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines.back(), L"  ホスト上のファイル名：config");
  EXPECT_EQ(form->RunningEngine(), nullptr);
}

TEST_F(MainFormTest, MinimisingTheMainFormMinimisesTheApplicationWindow) {
  HWND app = Application().Handle();
  ::ShowWindow(app, SW_SHOWNOACTIVATE);
  ::SendMessageW(wnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(::IsIconic(app));
  EXPECT_FALSE(::IsWindowVisible(wnd));
  ::SendMessageW(app, WM_SYSCOMMAND, SC_RESTORE, 0);
  EXPECT_FALSE(::IsIconic(app));
  EXPECT_TRUE(::IsWindowVisible(wnd));
  EXPECT_FALSE(::IsIconic(wnd));
}

TEST_F(MainFormTest, ExitClosesTheMainWindowAndEndsTheLoop) {
  ASSERT_EQ(Application().MainForm(), form);
  Click(ids::BExit);
  EXPECT_TRUE(Application().Terminated());
  EXPECT_FALSE(::IsWindowVisible(wnd));
  MSG msg{};
  EXPECT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  Application().ClearTerminated();
}

}  // namespace
}  // namespace tarnwick
