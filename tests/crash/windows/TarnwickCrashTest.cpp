// The real program's crash path: Tarnwick.exe is given a file it cannot
// open in the send operation, and the report it shows and logs is checked.
// The program is driven from outside through its fixed control ids and
// window titles; every wait is bounded.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

// The program as the build left it, seen through the drive that maps the
// build machine's root.
std::wstring ProgramPath() {
  const std::string unix = TARNWICK_PROGRAM;
  return L"Z:" + std::wstring(unix.begin(), unix.end());
}

std::string ReadAll(const std::wstring& path) {
  std::string narrow;
  for (wchar_t c : path) narrow += static_cast<char>(c);
  std::ifstream in(narrow, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <class Find>
auto WaitFor(Find find, DWORD milliseconds = 20000) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (auto found = find()) return found;
    if (GetTickCount() - start > milliseconds) return decltype(find())();
    Sleep(50);
  }
}

struct TopWindowSearch {
  DWORD process;
  const wchar_t* className;  // null: any
  const wchar_t* title;
  HWND found;
};

BOOL CALLBACK MatchTopWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<TopWindowSearch*>(data);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != search->process) return TRUE;
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  if (wcscmp(text, search->title) != 0) return TRUE;
  if (search->className != nullptr) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (wcscmp(name, search->className) != 0) return TRUE;
  }
  search->found = window;
  return FALSE;
}

// A window of the given process only: other tests may run the program on
// the same desktop at the same time.
HWND FindProcessWindow(DWORD process, const wchar_t* className, const wchar_t* title) {
  TopWindowSearch search{process, className, title, nullptr};
  EnumWindows(&MatchTopWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

struct DescendantSearch {
  int id;
  HWND found;
};

BOOL CALLBACK MatchId(HWND child, LPARAM data) {
  auto* search = reinterpret_cast<DescendantSearch*>(data);
  if (GetDlgCtrlID(child) != search->id) return TRUE;
  search->found = child;
  return FALSE;
}

HWND FindDescendant(HWND parent, int id) {
  DescendantSearch search{id, nullptr};
  EnumChildWindows(parent, &MatchId, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring TextOf(HWND window, int id) {
  wchar_t text[16384] = {};
  GetDlgItemTextW(window, id, text, 16384);
  return text;
}

class TarnwickCrashTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"tarnwick-program-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), (folder_ + L"Tarnwick.exe").c_str(), FALSE));
    // A file that exists but that nobody else may open while we hold it.
    locked_ = CreateFileW((folder_ + L"locked.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(locked_, INVALID_HANDLE_VALUE);
  }

  void TearDown() override {
    if (process_.hProcess != nullptr) {
      if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, 5000);
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
    CloseHandle(locked_);
    for (const wchar_t* name : {L"Tarnwick.exe", L"Tarnwick.log", L"Tarnwick.crash.ini", L"locked.bin"})
      DeleteFileW((folder_ + name).c_str());
    RemoveDirectoryW(folder_.c_str());
  }

  HWND Start() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring command = L"\"" + folder_ + L"Tarnwick.exe\"";
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder_.c_str(),
                        &startup, &process_))
      return nullptr;
    // The window is titled before its controls exist: wait for the button.
    return WaitFor([&] {
      HWND main = Find(nullptr, L"Tarnwick LE");
      return main != nullptr && FindDescendant(main, 1021) != nullptr ? main : HWND();
    });
  }

  // The log is written once the report dialog has closed.
  std::string WaitForLog(const std::string& differentFrom) {
    const std::wstring path = folder_ + L"Tarnwick.log";
    const DWORD start = GetTickCount();
    std::string now = ReadAll(path);
    while (now == differentFrom && GetTickCount() - start < 5000) {
      Sleep(50);
      now = ReadAll(path);
    }
    return now;
  }

  // Send, pick the locked file, and answer the report. Returns the report.
  std::wstring FailToSend(HWND main) {
    HWND send = FindDescendant(main, 1021);  // BPutFile
    if (send == nullptr) return L"no send button";
    PostMessageW(GetParent(send), WM_COMMAND, MAKEWPARAM(1021, BN_CLICKED), reinterpret_cast<LPARAM>(send));
    // The confirmation comes first while its check box is clear.
    const auto confirmOrOpen = [&] {
      HWND found = Find(nullptr, L"ファイル送信の確認");
      return found != nullptr ? found : Find(L"#32770", L"Select File to put ...");
    };
    HWND next = WaitFor(confirmOrOpen);
    if (next != nullptr && next == Find(nullptr, L"ファイル送信の確認")) {
      HWND execute = WaitFor([&] { return FindDescendant(next, 1102); }, 5000);  // ConfirmExecute
      if (execute == nullptr) return L"no execute button";
      PostMessageW(GetParent(execute), WM_COMMAND, MAKEWPARAM(1102, BN_CLICKED),
                   reinterpret_cast<LPARAM>(execute));
    }
    HWND open = WaitFor([&] { return Find(L"#32770", L"Select File to put ..."); });
    if (open == nullptr) return L"no open dialog";
    const std::wstring path = folder_ + L"locked.bin";
    for (int id : {1148, 1152}) SetDlgItemTextW(open, id, path.c_str());
    PostMessageW(open, WM_COMMAND, IDOK, 0);
    HWND report = WaitFor([&] { return Find(nullptr, L"Exception Log (Tarnwick.exe)"); });
    if (report == nullptr) return L"no report dialog";
    Sleep(200);
    const std::wstring text = TextOf(report, 103);
    PostMessageW(report, WM_COMMAND, 2, 0);
    WaitFor([&] { return IsWindow(report) ? HWND() : main; }, 5000);
    return text;
  }

  HWND Find(const wchar_t* className, const wchar_t* title) const {
    return FindProcessWindow(process_.dwProcessId, className, title);
  }

  std::wstring folder_;
  HANDLE locked_ = INVALID_HANDLE_VALUE;
  PROCESS_INFORMATION process_{};
};

TEST_F(TarnwickCrashTest, UnreadableFileToSendIsReportedAndLoggedOnce) {
  HWND main = Start();
  ASSERT_NE(main, nullptr) << "the main window did not appear";

  const std::wstring report = FailToSend(main);
  EXPECT_NE(report.find(L"Exception Type   : EFOpenError"), std::wstring::npos) << report.c_str();
  const std::string log = WaitForLog("");
  EXPECT_NE(log.find("\r\nActive Form      : Form1\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\r\nException Type   : EFOpenError\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\r\nVersion Number   : "), std::string::npos) << log;
  EXPECT_NE(log.find("|TransferOperations.cpp"), std::string::npos) << log;
  EXPECT_NE(log.find("|MainForm_win.cpp"), std::string::npos) << log;
  EXPECT_EQ(log.find("CrashReport_win.cpp"), std::string::npos) << log;

  // The program goes on: the same failure again shows the report but adds
  // nothing to the log. The stack scan reads every slot of the stack, so a
  // return address left behind by an earlier, different message can add a
  // row the first time; from the second failure on, each one follows the
  // same steps (report dialog, then the send), and so must be a repeat.
  ASSERT_TRUE(IsWindow(main));
  const std::wstring again = FailToSend(main);
  EXPECT_NE(again.find(L"EFOpenError"), std::wstring::npos) << again.c_str();
  Sleep(500);  // a repeat writes nothing, so there is nothing to wait for
  const std::string afterSecond = ReadAll(folder_ + L"Tarnwick.log");
  EXPECT_EQ(afterSecond.compare(0, log.size(), log), 0) << "earlier entries are kept";
  const std::wstring third = FailToSend(main);
  EXPECT_NE(third.find(L"EFOpenError"), std::wstring::npos) << third.c_str();
  Sleep(500);
  EXPECT_EQ(ReadAll(folder_ + L"Tarnwick.log"), afterSecond);

  PostMessageW(main, WM_CLOSE, 0, 0);
  ASSERT_EQ(WaitForSingleObject(process_.hProcess, 20000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(process_.hProcess, &code);
  EXPECT_EQ(code, 0u);
}

}  // namespace
