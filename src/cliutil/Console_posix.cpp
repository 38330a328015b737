#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cliutil/Console.h"

namespace tarnwick::cli {

namespace {

// Everything the handler touches: lock-free atomics and a fixed buffer.
std::atomic<int> g_signal{0};
std::atomic<StopPolling> g_polling{StopPolling::None};
std::atomic<bool> g_guarded{false};
char g_temporary[4096];
bool g_closedAtStart[3] = {false, false, false};

void OnSignal(int number) {
  const int previous = g_signal.exchange(number);
  const StopPolling polling = g_polling.load();
  if (polling == StopPolling::EverySignal || (previous == 0 && polling == StopPolling::FirstSignal)) return;
  if (g_guarded.load()) ::unlink(g_temporary);
  static const char kMessage[] = "\ntarnwick-cli: interrupted, stopped at once\n";
  ssize_t ignored = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  (void)ignored;
  ::_exit(1);
}

}  // namespace

void OpenClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free number: this one, since the lower ones
    // are open by now.
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened == fd) {
      g_closedAtStart[fd] = true;
    } else if (opened >= 0) {
      ::close(opened);
    }
  }
}

bool StandardStreamWasClosed(int which) { return which >= 0 && which <= 2 && g_closedAtStart[which]; }

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a blocking call should see EINTR and let the poll loop
  // look at the flag.
  action.sa_flags = 0;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
  // A reader that goes away (get ... - | head) or a file-size limit is a
  // failed write with its reason and exit status, not a silent death.
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
}

bool StopRequested() { return g_signal.load() != 0; }

std::string StopSignalName() {
  switch (g_signal.load()) {
    case 0:
      return {};
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(g_signal.load());
  }
}

void SetStopPolling(StopPolling polling) { g_polling.store(polling); }

void GuardTemporaryFile(const std::string& path) {
  g_guarded.store(false);
  if (path.empty() || path.size() >= sizeof g_temporary) return;
  std::memcpy(g_temporary, path.c_str(), path.size() + 1);
  g_guarded.store(true);
}

namespace {
std::atomic<bool> g_reload{false};
void OnReloadSignal(int) { g_reload.store(true); }
}  // namespace

void WatchReloadSignal() {
  struct sigaction action {};
  action.sa_handler = OnReloadSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGHUP, &action, nullptr);
}

bool TakeReloadRequest() { return g_reload.exchange(false); }

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::optional<std::string> EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

}  // namespace tarnwick::cli
