// A program that fails on purpose, run by the crash reporter's Windows
// tests in a process of its own. It uses the real reporter and carries the
// real options block and line tables.
//
//   crash_child open-fail <path> [maximise]
//                                 an unreadable file in a "click handler";
//                                 the report dialog is closed by a watcher
//                                 thread that prints the report it showed
//                                 (maximising the dialog first if asked)
//   crash_child fatal <path>      the same error outside the message loop
//   crash_child fault             an access violation outside the loop
//   crash_child overflow          a stack overflow outside the loop
//   crash_child timer <path>      open-fail, and while its report is open a
//                                 timer fails to open <path>.timer
//   crash_child int-loop          `throw 42` in a guarded handler
//   crash_child int-fatal         `throw 42` outside the loop
//   crash_child int-unguarded     `throw 42` through a frame that lets
//                                 nothing pass (std::terminate)
//   crash_child start             start-up and shut-down only (mail check)
//
// A watcher thread answers the report dialog and the plain error box.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/FileStream.h"
#include "crash/CrashReport.h"

namespace {

std::atomic<bool> watching{true};

struct OwnWindowSearch {
  const wchar_t* title;
  HWND found;
};

BOOL CALLBACK MatchOwnWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<OwnWindowSearch*>(data);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t title[256] = {};
  GetWindowTextW(window, title, 256);
  if (process != GetCurrentProcessId() || wcscmp(title, search->title) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

// Only this process's windows: other runs may show the same captions on
// the same desktop at the same time.
HWND FindOwnWindow(const wchar_t* title) {
  OwnWindowSearch search{title, nullptr};
  EnumWindows(&MatchOwnWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}
std::atomic<bool> maximiseDialog{false};

// Closes every report dialog of this process once its text is readable and
// prints that text, so the parent sees what the user would have seen.
void WatchForDialog() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name = path;
  name = name.substr(name.find_last_of(L'\\') + 1);
  const std::wstring caption = L"Exception Log (" + name + L")";
  while (watching) {
    HWND dialog = FindOwnWindow(caption.c_str());
    if (dialog != nullptr && IsWindowVisible(dialog)) {
      Sleep(800);  // let the dialog finish placing itself
      wchar_t text[8192] = {};
      GetDlgItemTextW(dialog, 103, text, 8192);
      char bytes[16384] = {};
      const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
      RECT r{};
      GetWindowRect(dialog, &r);
      std::printf(
          "DIALOG-REPORT-BEGIN\n%s\nDIALOG-REPORT-END\nZOOMED=%d WIDTH=%ld HEIGHT=%ld LEFT=%ld TOP=%ld\n",
          n > 0 ? bytes : "", IsZoomed(dialog) ? 1 : 0, r.right - r.left, r.bottom - r.top, r.left, r.top);
      std::fflush(stdout);
      if (maximiseDialog) {
        // Through the dialog's own thread: a maximise from this thread is
        // not carried out by every window system.
        PostMessageW(dialog, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
        for (int i = 0; i < 100 && !IsZoomed(dialog); ++i) Sleep(30);
        std::printf("MAXIMISED=%d\n", IsZoomed(dialog) ? 1 : 0);
        std::fflush(stdout);
      }
      PostMessageW(dialog, WM_COMMAND, 2, 0);
      Sleep(300);
    }
    // The plain box shown when the reporter has no options to work with.
    if (HWND box = FindOwnWindow(L"Error.")) {
      std::printf("ERROR-BOX\n");
      std::fflush(stdout);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      Sleep(300);
    }
    Sleep(20);
  }
}

__attribute__((noinline)) void OpenForSending(const std::string& path) {
  tarnwick::TFileStream file(path, tarnwick::FileMode::OpenRead);
  std::printf("opened unexpectedly\n");
}

// Stands for a click handler: what escapes it goes to the loop's handler.
__attribute__((noinline)) void ClickHandler(const std::string& path) {
  try {
    OpenForSending(path);
  } catch (const std::exception& error) {
    tarnwick::HandleLoopException(error);
  }
}

std::string timerPath;

// A timer of the main window that fails while the first report is open:
// its message is handled inside the report dialog's loop.
void CALLBACK FailingTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  try {
    OpenForSending(timerPath);
  } catch (const std::exception& error) {
    tarnwick::HandleLoopException(error);
  }
}

__attribute__((noinline)) void ThrowNoError() { throw 42; }

// What the application's guard does with whatever escapes a handler: an
// object that is no exception arrives with a stand-in.
__attribute__((noinline)) void GuardedHandler() {
  try {
    ThrowNoError();
  } catch (const std::exception& error) {
    tarnwick::HandleLoopException(error);
  } catch (...) {
    tarnwick::HandleLoopException(std::runtime_error("unknown exception"));
  }
}

__attribute__((noinline)) void LetsNothingPass() noexcept { ThrowNoError(); }

volatile int neverDeeper = -1;

__attribute__((noinline)) int Recurse(volatile char* previous, int depth) {
  if (depth == neverDeeper) return 0;
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  frame[1] = previous != nullptr ? previous[0] : 0;
  return Recurse(frame, depth + 1) + frame[1];
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const std::string path = argc > 2 ? argv[2] : "";
  maximiseDialog = argc > 3 && std::string(argv[3]) == "maximise";
  tarnwick::InstallCrashReporter();
  std::thread watcher(WatchForDialog);
  int code = 0;
  try {
    if (mode == "open-fail") {
      ClickHandler(path);
      std::printf("the program goes on\n");
    } else if (mode == "fatal") {
      OpenForSending(path);
    } else if (mode == "fault") {
      volatile int* nowhere = nullptr;
      *nowhere = 1;
    } else if (mode == "overflow") {
      std::printf("depth %d\n", Recurse(nullptr, 0));
    } else if (mode == "timer") {
      timerPath = path + ".timer";
      SetTimer(nullptr, 0, 100, &FailingTimer);
      ClickHandler(path);
      std::printf("the program goes on\n");
    } else if (mode == "int-loop") {
      GuardedHandler();
      std::printf("the program goes on\n");
    } else if (mode == "int-fatal") {
      ThrowNoError();
    } else if (mode == "int-unguarded") {
      LetsNothingPass();
    } else if (mode != "start") {
      code = 2;
    }
  } catch (...) {
    // The watcher stays on duty: the report still has to be answered, and
    // the process ends inside the handler.
    tarnwick::HandleFatalException();
  }
  watching = false;
  watcher.join();
  tarnwick::RemoveCrashReporter();
  return code;
}
