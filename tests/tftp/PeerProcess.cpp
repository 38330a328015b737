#include "PeerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace tarnwick::testing_support {

namespace {

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

}  // namespace

std::uint16_t FreeLoopbackUdpPort() {
  int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

bool TftpAnswers(std::uint16_t port, int timeoutMs) {
  int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = Loopback(port);
  static const char rrq[] = "\0\1.tarnwick-probe\0octet";
  ::sendto(s, rrq, sizeof rrq, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  pollfd p{s, POLLIN, 0};
  const bool answered = ::poll(&p, 1, timeoutMs) > 0;
  ::close(s);
  return answered;
}

long SpawnQuiet(const std::vector<std::string>& argv) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::vector<char*> raw;
    for (const auto& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
    raw.push_back(nullptr);
    ::execv(raw[0], raw.data());
    ::_exit(127);
  }
  return pid > 0 ? pid : 0;
}

bool StillRunning(long pid) {
  int status = 0;
  return ::waitpid(static_cast<pid_t>(pid), &status, WNOHANG) == 0;
}

void StopProcess(long pid) {
  if (pid <= 0) return;
  ::kill(static_cast<pid_t>(pid), SIGTERM);
  for (int waited = 0; waited < 3000; waited += 20) {
    if (::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG) == pid) return;
    ::usleep(20000);
  }
  ::kill(static_cast<pid_t>(pid), SIGKILL);
  ::waitpid(static_cast<pid_t>(pid), nullptr, 0);
}

std::string MakeServedFolder(const std::string& prefix) {
  std::string path = "/tmp/" + prefix + "-XXXXXX";
  if (!::mkdtemp(path.data())) return {};
  ::chmod(path.c_str(), 0777);
  return path;
}

void RemoveFolder(const std::string& folder) {
  if (folder.empty() || folder.find('\'') != std::string::npos) return;
  const std::string command = "rm -rf '" + folder + "'";
  if (std::system(command.c_str()) != 0) std::perror("rm");
}

}  // namespace tarnwick::testing_support
