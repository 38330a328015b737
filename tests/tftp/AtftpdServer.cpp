#include "AtftpdServer.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "PeerProcess.h"

namespace tarnwick::testing_support {

std::string AtftpdServer::FindBinary() {
  if (const char* chosen = std::getenv("TARNWICK_ATFTPD"); chosen && *chosen) return chosen;
  for (const char* path : {"/opt/tarnwick-peers/usr/sbin/atftpd", "/usr/sbin/atftpd"})
    if (::access(path, X_OK) == 0) return path;
  return {};
}

AtftpdServer::AtftpdServer() {
  const std::string atftpd = FindBinary();
  if (atftpd.empty() || ::access(atftpd.c_str(), X_OK) != 0) {
    unavailable_ =
        "atftpd is not there: run scripts/setup-debian.sh (it unpacks it into /opt/tarnwick-peers)";
    return;
  }
  folder_ = MakeServedFolder("tarnwick-atftpd");
  if (folder_.empty()) {
    unavailable_ = "cannot create a temporary folder";
    return;
  }
  log_ = folder_ + ".log";
  passwd* user = ::getpwuid(::geteuid());
  group* userGroup = ::getgrgid(::getegid());
  for (int attempt = 0; attempt < 5 && pid_ == 0; ++attempt) {
    port_ = FreeLoopbackUdpPort();
    // --no-fork keeps it in the foreground as our child, so its PID is the
    // server's; the long idle time keeps it from leaving on its own mid-suite.
    // Its own retransmission wait is 1 s instead of 5: a loss the server must
    // repair then fits inside a loopback client's retries.
    const long pid = SpawnQuiet({atftpd, "--daemon", "--no-fork", "--bind-address", "127.0.0.1", "--port",
                                 std::to_string(port_), "--user", user ? user->pw_name : "nobody", "--group",
                                 userGroup ? userGroup->gr_name : "nogroup", "--logfile", log_, "-t", "3600",
                                 "--retry-timeout", "1", folder_});
    if (pid == 0) break;
    for (int wait = 0; wait < 30; ++wait) {
      if (TftpAnswers(port_)) {
        pid_ = pid;
        break;
      }
      if (!StillRunning(pid)) break;  // port taken meanwhile: try another
    }
    if (pid_ == 0) StopProcess(pid);
  }
  if (pid_ == 0) unavailable_ = atftpd + " did not start (see " + log_ + ")";
}

AtftpdServer::~AtftpdServer() {
  StopProcess(pid_);
  RemoveFolder(folder_);
  if (!log_.empty() && pid_ != 0) std::remove(log_.c_str());
}

void AtftpdServer::WriteFile(const std::string& name, const std::string& bytes) const {
  std::ofstream out(folder_ + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string AtftpdServer::ReadFile(const std::string& name) const {
  std::ifstream in(folder_ + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string AtftpdServer::ReadUpload(const std::string& name, std::size_t size, int timeoutMs) const {
  std::string bytes = ReadFile(name);
  for (int waited = 0; bytes.size() < size && waited < timeoutMs; waited += 20) {
    ::usleep(20000);
    bytes = ReadFile(name);
  }
  return bytes;
}

bool AtftpdServer::Exists(const std::string& name) const {
  std::ifstream in(folder_ + "/" + name, std::ios::binary);
  return in.good();
}

}  // namespace tarnwick::testing_support
