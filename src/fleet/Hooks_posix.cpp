// Hooks on POSIX: posix_spawnp into a new process group, polled with
// waitpid so no SIGCHLD handler of ours is needed and the program's own
// signal handling stays as it is.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "fleet/Hooks.h"

extern char** environ;

namespace tarnwick::fleet {
namespace {

class SpawnSetup {
 public:
  SpawnSetup() {
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
};

std::vector<char*> NullTerminated(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

void Prepare(SpawnSetup& setup, const std::string& input, int outputPipe) {
  // No standard input but the one we give (a hook must not eat a cron job's
  // input or wait on a terminal); its output goes into our pipe (OutputRelay).
  ::posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO,
                                     input.empty() ? "/dev/null" : input.c_str(), O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&setup.actions, outputPipe, STDOUT_FILENO);
  ::posix_spawn_file_actions_adddup2(&setup.actions, outputPipe, STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Nothing else of ours: a hook that leaves a process behind must not keep
  // DEST's lock, a socket or a half-written file open for ever.
  ::posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);
#endif
  // Its own process group, so the time limit ends whatever it started; our
  // blocked or ignored signals (Ctrl+C handling, SIGPIPE) are not its.
  ::posix_spawnattr_setflags(&setup.attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  ::posix_spawnattr_setpgroup(&setup.attributes, 0);
  sigset_t none;
  sigemptyset(&none);
  ::posix_spawnattr_setsigmask(&setup.attributes, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD}) sigaddset(&defaults, signal);
  ::posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
}

// Copies the hook's output to our standard error up to the limit and
// drops the rest, so the hook never blocks on a full pipe.
class OutputRelay {
 public:
  OutputRelay() {
    if (::pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
  }
  ~OutputRelay() {
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
  }
  OutputRelay(const OutputRelay&) = delete;
  OutputRelay& operator=(const OutputRelay&) = delete;

  bool Valid() const { return fds_[0] >= 0; }
  int WriteEnd() const { return fds_[1]; }
  void Started() {  // the hook holds the write end now
    ::close(fds_[1]);
    fds_[1] = -1;
  }
  // Waits up to `wait` for output and relays what came.
  void Pump(std::chrono::microseconds wait) {
    if (fds_[0] < 0) {  // the output has ended; the hook may still run
      std::this_thread::sleep_for(wait);
      return;
    }
    pollfd p{fds_[0], POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>((wait.count() + 999) / 1000)) <= 0) return;
    Drain();
  }
  // Reads what is there without waiting (a process the hook left behind
  // may keep the pipe open for ever).
  void Drain() {
    char buffer[16384];
    for (;;) {
      const ssize_t n = ::read(fds_[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) {
          ::close(fds_[0]);
          fds_[0] = -1;
        }
        return;
      }
      WriteAll(buffer, cap_.Shown(static_cast<std::size_t>(n)));
      pollfd p{fds_[0], POLLIN, 0};
      if (::poll(&p, 1, 0) <= 0) return;
    }
  }
  std::uint64_t Finish() {
    if (fds_[0] >= 0) {
      ::fcntl(fds_[0], F_SETFL, O_NONBLOCK);
      Drain();
    }
    const std::string note = cap_.Note();
    WriteAll(note.data(), note.size());
    return cap_.Dropped();
  }

 private:
  static void WriteAll(const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(STDERR_FILENO, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // our standard error is gone: nothing to show it on
      data += n;
      size -= static_cast<std::size_t>(n);
    }
  }
  int fds_[2] = {-1, -1};
  HookOutputCap cap_;
};

pid_t WaitFor(pid_t pid, int& status, int flags) {
  pid_t got;
  do {
    got = ::waitpid(pid, &status, flags);
  } while (got < 0 && errno == EINTR);
  return got;
}

HookResult Finished(int status) {
  if (WIFEXITED(status)) return ExitedHook(WEXITSTATUS(status));
  HookResult result;
  result.outcome = HookOutcome::Signaled;
  result.code = WIFSIGNALED(status) ? WTERMSIG(status) : -1;
  const char* name = result.code > 0 ? ::strsignal(result.code) : nullptr;
  result.reason =
      "killed by signal " + std::to_string(result.code) + (name ? std::string(" (") + name + ")" : "");
  return result;
}

}  // namespace

HookResult RunHook(const HookRequest& request) {
  if (request.argv.empty()) return HookNotStarted("no command");
  std::vector<std::string> inherited;
  for (char** entry = environ; entry && *entry; ++entry) inherited.emplace_back(*entry);
  std::vector<std::string> environment =
      HookEnvironment(inherited, HookVariables(request.facts, request.secrets));
  std::vector<std::string> argv = request.argv;
  std::vector<char*> argvPointers = NullTerminated(argv), environmentPointers = NullTerminated(environment);

  OutputRelay output;
  if (!output.Valid()) return HookNotStarted(std::string("no pipe for its output: ") + std::strerror(errno));
  SpawnSetup setup;
  Prepare(setup, request.input, output.WriteEnd());
  pid_t pid = 0;
  const int error = ::posix_spawnp(&pid, argvPointers[0], &setup.actions, &setup.attributes,
                                   argvPointers.data(), environmentPointers.data());
  if (error != 0) return HookNotStarted(argv[0] + ": " + std::strerror(error));
  output.Started();
  auto done = [&output](HookResult result) {
    result.outputDropped = output.Finish();
    return result;
  };

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + request.timeLimit;
  // Short first waits: most hooks (a mail, a chat message) are done in a
  // few milliseconds, and a hook per changed device adds up.
  std::chrono::microseconds pause(100);
  for (;;) {
    int status = 0;
    const pid_t got = WaitFor(pid, status, WNOHANG);
    if (got == pid) return done(Finished(status));
    if (got < 0) {
      // Someone else reaped it (SIGCHLD ignored): what it did is unknown,
      // and its group id may already be another's, so nothing is killed.
      const int why = errno;
      HookResult lost;
      lost.outcome = HookOutcome::Exited;
      lost.reason = std::string("its exit status was lost: ") + std::strerror(why);
      return done(lost);
    }
    const Clock::time_point now = Clock::now();
    const bool stop = request.stopRequested && request.stopRequested();
    if (stop || now >= deadline) {
      // The leader is not reaped yet, so its group id cannot have been
      // reused: the signal reaches only what the hook started.
      ::kill(-pid, SIGKILL);
      WaitFor(pid, status, 0);
      return done(stop ? InterruptedHook() : TimedOutHook(request.timeLimit));
    }
    output.Pump(std::chrono::duration_cast<std::chrono::microseconds>(
        std::min<Clock::duration>(pause, deadline - now)));
    pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(50));
  }
}

}  // namespace tarnwick::fleet
