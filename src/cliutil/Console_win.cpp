#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "base/TextCodec.h"
#include "cliutil/Console.h"

namespace tarnwick::cli {

namespace {

// The console calls the handler on a thread of its own.
std::atomic<DWORD> g_event{0xffffffffu};
std::atomic<StopPolling> g_polling{StopPolling::None};
std::atomic<bool> g_guarded{false};
wchar_t g_temporary[32768];
bool g_closedAtStart[3] = {false, false, false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const DWORD previous = g_event.exchange(event);
  const StopPolling polling = g_polling.load();
  // Windows ends the process when the close handler returns: nothing to wait for.
  if (event != CTRL_CLOSE_EVENT && (polling == StopPolling::EverySignal ||
                                    (previous == 0xffffffffu && polling == StopPolling::FirstSignal)))
    return TRUE;
  if (g_guarded.load()) ::DeleteFileW(g_temporary);
  static const char kMessage[] = "\ntarnwick-cli: interrupted, stopped at once\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), kMessage, sizeof kMessage - 1, &written, nullptr);
  ::ExitProcess(1);
  return TRUE;
}

}  // namespace

void OpenClosedStandardStreams() {
  static const DWORD kWhich[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int i = 0; i < 3; ++i) {
    const HANDLE current = ::GetStdHandle(kWhich[i]);
    if (current != nullptr && current != INVALID_HANDLE_VALUE) continue;
    const HANDLE null = ::CreateFileW(L"NUL", i == 0 ? GENERIC_READ : GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (null == INVALID_HANDLE_VALUE) continue;
    ::SetStdHandle(kWhich[i], null);
    g_closedAtStart[i] = true;
    // The C runtime set its streams up from the missing handle; a stream
    // with no descriptor is pointed at the null device too.
    FILE* stream = i == 0 ? stdin : i == 1 ? stdout : stderr;
    if (_fileno(stream) < 0 || _get_osfhandle(_fileno(stream)) < 0) {
      FILE* reopened = std::freopen("NUL", i == 0 ? "r" : "w", stream);
      (void)reopened;
    }
  }
}

bool StandardStreamWasClosed(int which) { return which >= 0 && which <= 2 && g_closedAtStart[which]; }

void InstallStopHandlers() {
  static bool installed = false;
  if (!installed) installed = ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

bool StopRequested() { return g_event.load() != 0xffffffffu; }

std::string StopSignalName() {
  switch (g_event.load()) {
    case 0xffffffffu:
      return {};
    case CTRL_C_EVENT:
      return "Ctrl+C";
    case CTRL_BREAK_EVENT:
      return "Ctrl+Break";
    default:
      return "console event " + std::to_string(g_event.load());
  }
}

void SetStopPolling(StopPolling polling) { g_polling.store(polling); }

void GuardTemporaryFile(const std::string& path) {
  g_guarded.store(false);
  std::wstring wide = Utf8ToWide(path);
  if (wide.empty() || wide.size() >= sizeof g_temporary / sizeof g_temporary[0]) return;
  std::wmemcpy(g_temporary, wide.c_str(), wide.size() + 1);
  g_guarded.store(true);
}

void WatchReloadSignal() {}
bool TakeReloadRequest() { return false; }

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::optional<std::string> EnvironmentValue(const char* name) {
  std::wstring wideName = Utf8ToWide(name);
  const wchar_t* value = ::_wgetenv(wideName.c_str());
  if (!value) return std::nullopt;
  return WideToUtf8(value);
}

}  // namespace tarnwick::cli
