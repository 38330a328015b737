// The lingering process: forked twice, so that the init process adopts and
// reaps it and the program never waits for it (the middle child exits at
// once and is reaped here). The parent may have other threads (name
// lookups of a backup run), so after fork the child only makes system
// calls: everything it needs is prepared before, nothing is allocated.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "tftp/LingerProcess.h"

namespace tarnwick::tftp {

namespace {

struct Prepared {
  std::array<LingerHandOff, kMaxHandedOff> lingers;
  std::array<pollfd, kMaxHandedOff> poll;
  std::array<int, kMaxHandedOff> keep;  // sorted descriptors
  std::size_t count = 0;
};

void CloseRange(unsigned from, unsigned to) {
  if (from > to) return;
  if (::close_range(from, to, 0) == 0) return;
  for (unsigned fd = from; fd <= std::min(to, 65535u); ++fd) ::close(static_cast<int>(fd));
}

// Standard input, output and error go too: a reader of the program's
// output sees its end when the program ends.
void CloseAllBut(const Prepared& p) {
  unsigned from = 0;
  for (std::size_t i = 0; i < p.count; ++i) {
    const auto fd = static_cast<unsigned>(p.keep[i]);
    if (fd > from) CloseRange(from, fd - 1);
    from = fd + 1;
  }
  CloseRange(from, ~0u);
}

[[noreturn]] void AnswerUntilTheEnd(Prepared& p) {
  // The program's stop handlers only set flags nobody reads any more.
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  for (int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::sigaction(number, &standard, nullptr);
  CloseAllBut(p);
  SocketFunctionTable& api = SocketApi();
  static char buffer[65536];
  for (;;) {
    const TimePoint now = Clock::now();
    TimePoint until = TimePoint::min();
    for (std::size_t i = 0; i < p.count; ++i) {
      const bool open = now < p.lingers[i].linger.until;
      p.poll[i].fd = open ? static_cast<int>(p.lingers[i].socket) : -1;  // poll skips negative ones
      if (open) until = std::max(until, p.lingers[i].linger.until);
    }
    if (until <= now) ::_exit(0);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    if (::poll(p.poll.data(), p.count, static_cast<int>(std::min<long long>(wait, 60000))) <= 0) continue;
    for (std::size_t i = 0; i < p.count; ++i) {
      if (p.poll[i].fd < 0 || !(p.poll[i].revents & POLLIN)) continue;
      const Linger& linger = p.lingers[i].linger;
      for (int n = 0; n < 64; ++n) {  // drain, but let the other sockets have their turn
        SocketAddress from{};
        int length = sizeof from;
        const int got = api.recvfrom(p.lingers[i].socket, buffer, sizeof buffer, 0, &from, &length);
        if (got < 0) break;
        if (!linger.Repeats(from, std::string_view(buffer, static_cast<std::size_t>(got)))) continue;
        const char ack[4] = {0, 4, static_cast<char>(linger.lastBlock >> 8),
                             static_cast<char>(linger.lastBlock & 0xFF)};
        api.sendto(p.lingers[i].socket, ack, 4, 0, &linger.peer, SocketAddressLength(linger.peer));
      }
    }
  }
}

}  // namespace

bool LingerInBackground(const std::vector<LingerHandOff>& lingers) {
  if (lingers.empty()) return true;
  if (lingers.size() > kMaxHandedOff) return false;
  static Prepared p;  // static: the child reads it without touching the heap
  p.count = lingers.size();
  for (std::size_t i = 0; i < p.count; ++i) {
    p.lingers[i] = lingers[i];
    p.poll[i] = pollfd{static_cast<int>(lingers[i].socket), POLLIN, 0};
    p.keep[i] = static_cast<int>(lingers[i].socket);
  }
  std::sort(p.keep.begin(), p.keep.begin() + static_cast<std::ptrdiff_t>(p.count));
  const pid_t middle = ::fork();
  if (middle < 0) return false;
  if (middle == 0) {
    const pid_t lingering = ::fork();
    if (lingering == 0) AnswerUntilTheEnd(p);
    ::_exit(lingering < 0 ? 1 : 0);
  }
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(middle, &status, 0);
  } while (r < 0 && errno == EINTR);
  // Someone else reaped it (ECHILD): it exits at once either way.
  if (r < 0) return true;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tarnwick::tftp
