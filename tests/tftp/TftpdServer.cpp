#include "TftpdServer.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>
#endif

namespace tarnwick::testing_support {

#ifdef _WIN32

TftpdServer::TftpdServer() { unavailable_ = "in.tftpd runs on the Linux side only"; }
TftpdServer::~TftpdServer() = default;

#else

namespace {

const char* FindTftpd() {
  for (const char* path : {"/usr/sbin/in.tftpd", "/usr/local/sbin/in.tftpd", "/sbin/in.tftpd"})
    if (::access(path, X_OK) == 0) return path;
  return nullptr;
}

// A port that was free a moment ago (bind to port 0, read it, release it).
std::uint16_t FreeUdpPort() {
  int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

// True once the server answers a request (any answer, here "not found").
bool Answers(std::uint16_t port) {
  int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  static const char rrq[] = "\0\1.tarnwick-probe\0octet";
  ::sendto(s, rrq, sizeof rrq, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  pollfd p{s, POLLIN, 0};
  bool answered = ::poll(&p, 1, 100) > 0;
  ::close(s);
  return answered;
}

}  // namespace

TftpdServer::TftpdServer() {
  const char* tftpd = FindTftpd();
  if (!tftpd) {
    unavailable_ = "in.tftpd (tftpd-hpa) is not installed";
    return;
  }
  char folderTemplate[] = "/tmp/tarnwick-tftpd-XXXXXX";
  if (!::mkdtemp(folderTemplate)) {
    unavailable_ = "cannot create a temporary folder";
    return;
  }
  folder_ = folderTemplate;
  ::chmod(folder_.c_str(), 0777);
  passwd* user = ::getpwuid(::geteuid());
  std::string userName = user ? user->pw_name : "nobody";
  for (int attempt = 0; attempt < 5 && pid_ == 0; ++attempt) {
    port_ = FreeUdpPort();
    std::string address = "127.0.0.1:" + std::to_string(port_);
    std::vector<std::string> argv = {tftpd, "-L", "-a", address, "-c", "-p", "-u", userName};
    // Changing root needs privileges; without them the folder is named and
    // requests are looked up relative to it.
    if (::geteuid() == 0) argv.push_back("-s");
    argv.push_back(folder_);
    pid_t pid = ::fork();
    if (pid == 0) {
      std::vector<char*> raw;
      for (auto& a : argv) raw.push_back(a.data());
      raw.push_back(nullptr);
      ::execv(tftpd, raw.data());
      ::_exit(127);
    }
    for (int wait = 0; wait < 30; ++wait) {
      if (Answers(port_)) {
        pid_ = pid;
        break;
      }
      int status;
      if (::waitpid(pid, &status, WNOHANG) == pid) break;  // port taken meanwhile: try another
    }
    if (pid_ == 0 && pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  if (pid_ == 0) unavailable_ = "in.tftpd did not start";
}

TftpdServer::~TftpdServer() {
  if (pid_ > 0) {
    ::kill(static_cast<pid_t>(pid_), SIGTERM);
    ::waitpid(static_cast<pid_t>(pid_), nullptr, 0);
  }
  if (!folder_.empty()) {
    std::string command = "rm -rf '" + folder_ + "'";
    if (std::system(command.c_str()) != 0) std::perror("rm");
  }
}

#endif

void TftpdServer::WriteFile(const std::string& name, const std::string& bytes) const {
  std::ofstream out(folder_ + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TftpdServer::ReadFile(const std::string& name) const {
  std::ifstream in(folder_ + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool TftpdServer::Exists(const std::string& name) const {
  std::ifstream in(folder_ + "/" + name, std::ios::binary);
  return in.good();
}

}  // namespace tarnwick::testing_support
