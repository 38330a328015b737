#include "ImpairRelay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#ifndef TARNWICK_IMPAIR_BINARY
#error "the build names the relay binary"
#endif

namespace tarnwick::testing_support {

namespace {

// Everything readable from fd within timeoutMs in total, up to a newline
// when untilNewline, or until end of file.
std::string ReadWithin(int fd, int timeoutMs, bool untilNewline) {
  std::string text;
  for (int waited = 0; waited < timeoutMs; waited += 50) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char c[256];
    ssize_t n = ::read(fd, c, untilNewline ? 1 : sizeof c);
    if (n <= 0) break;
    text.append(c, static_cast<std::size_t>(n));
    if (untilNewline && text.back() == '\n') break;
  }
  return text;
}

}  // namespace

ImpairRelay::ImpairRelay(std::uint16_t serverPort, const std::vector<std::string>& options,
                         const std::string& host) {
  const std::string binary = TARNWICK_IMPAIR_BINARY;
  if (::access(binary.c_str(), X_OK) != 0) {
    unavailable_ = binary + " is not built";
    return;
  }
  const bool v6 = host.find(':') != std::string::npos;
  std::vector<std::string> argv = {binary, "--server",
                                   (v6 ? "[" + host + "]" : host) + ":" + std::to_string(serverPort)};
  argv.insert(argv.end(), options.begin(), options.end());
  int out[2], err[2];
  if (::pipe(out) != 0) {
    unavailable_ = "no pipe";
    return;
  }
  if (::pipe(err) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    unavailable_ = "no pipe";
    return;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(err[0]);
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    ::execv(binary.c_str(), raw.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  errorPipe_ = err[0];
  pid_ = pid;
  const std::string line = ReadWithin(out[0], 5000, true);
  ::close(out[0]);
  const int port = std::atoi(line.c_str());
  if (port <= 0 || port > 65535) {
    unavailable_ = "tarnwick-impair did not start: " + ReadWithin(errorPipe_, 500, false);
    Stop();
    return;
  }
  port_ = static_cast<std::uint16_t>(port);
}

std::string ImpairRelay::Stop() {
  std::string stats;
  if (pid_ > 0) {
    ::kill(static_cast<pid_t>(pid_), SIGTERM);
    int status = 0;
    bool exited = false;
    // The relay sees a stop request within 100 ms; allow far more, then kill.
    for (int waited = 0; waited < 5000 && !exited; waited += 20) {
      if (::waitpid(static_cast<pid_t>(pid_), &status, WNOHANG) == pid_)
        exited = true;
      else
        ::usleep(20000);
    }
    if (!exited) {
      ::kill(static_cast<pid_t>(pid_), SIGKILL);
      ::waitpid(static_cast<pid_t>(pid_), &status, 0);
    }
    const std::string output = ReadWithin(errorPipe_, 1000, false);
    if (exited && WIFEXITED(status) && WEXITSTATUS(status) == 0) stats = output;
    pid_ = 0;
  }
  if (errorPipe_ >= 0) {
    ::close(errorPipe_);
    errorPipe_ = -1;
  }
  return stats;
}

ImpairRelay::~ImpairRelay() { Stop(); }

}  // namespace tarnwick::testing_support
