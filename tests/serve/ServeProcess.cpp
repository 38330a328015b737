#include "ServeProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>

namespace tarnwick::testing_support {

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

ServeProcess::ServeProcess(const std::vector<std::string>& extra, bool ipv6) {
  char folder[] = "/tmp/tarnwick-serve-XXXXXX";
  if (!::mkdtemp(folder)) {
    unavailable_ = "cannot create a scratch folder";
    return;
  }
  scratch_ = folder;
  root_ = scratch_ + "/root";
  outside_ = scratch_ + "/outside";
  ::mkdir(root_.c_str(), 0777);
  ::mkdir(outside_.c_str(), 0777);
  // As root the server drops to nobody before opening files: let nobody in,
  // and let nobody write OUTSIDE too, so an escape would show there.
  ::chmod(scratch_.c_str(), 0755);
  ::chmod(root_.c_str(), 0777);
  ::chmod(outside_.c_str(), 0777);
  std::vector<std::string> argv = {TARNWICK_CLI_PATH, "serve", root_, "--port", "0", "--listen", "127.0.0.1"};
  if (ipv6) argv.insert(argv.end(), {"--listen", "::1"});
  argv.insert(argv.end(), extra.begin(), extra.end());
  const std::string err = scratch_ + "/serve.err", out = scratch_ + "/serve.out";
  pid_t pid = ::fork();
  if (pid == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, 0), ::dup2(o, 1), ::dup2(e, 2);
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    ::execv(raw[0], raw.data());
    ::_exit(127);
  }
  pid_ = pid;
  // Bounded: 10 s for every socket to be bound (or for the server to give up).
  const std::regex line(R"(serve: listening on (\[::1\]|127\.0\.0\.1):(\d+))");
  for (int wait = 0; wait < 200; ++wait) {
    const std::string said = ReadWhole(err);
    std::uint16_t p4 = 0, p6 = 0;
    for (std::sregex_iterator m(said.begin(), said.end(), line), end; m != end; ++m)
      ((*m)[1] == "127.0.0.1" ? p4 : p6) = static_cast<std::uint16_t>(std::stoi((*m)[2]));
    if (p4 != 0 && (!ipv6 || p6 != 0)) {
      port4_ = p4, port6_ = p6;
      return;
    }
    int status;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      pid_ = 0;
      unavailable_ = "serve exited before listening: " + said;
      return;
    }
    ::poll(nullptr, 0, 50);
  }
  unavailable_ = "serve did not report listening within 10 s: " + ReadWhole(err);
}

ServeProcess::~ServeProcess() {
  if (pid_ > 0) {
    ::kill(static_cast<pid_t>(pid_), SIGTERM);
    int status;
    bool gone = false;
    for (int wait = 0; wait < 100 && !gone; ++wait) {
      gone = ::waitpid(static_cast<pid_t>(pid_), &status, WNOHANG) == pid_;
      if (!gone) ::poll(nullptr, 0, 50);
    }
    if (!gone) {
      ::kill(static_cast<pid_t>(pid_), SIGKILL);
      ::waitpid(static_cast<pid_t>(pid_), nullptr, 0);
    }
  }
  if (!scratch_.empty()) {
    const std::string command = "rm -rf '" + scratch_ + "'";
    if (std::system(command.c_str()) != 0) std::perror("rm");
  }
}

std::string ServeProcess::Said() const { return ReadWhole(scratch_ + "/serve.err"); }

void ServeProcess::Signal(int number) const {
  if (pid_ > 0) ::kill(static_cast<pid_t>(pid_), number);
}

std::string ServeProcess::Log() const { return ReadWhole(scratch_ + "/serve.out"); }

}  // namespace tarnwick::testing_support
