// Real servers for the proxy and TLS tests: a child process started from an
// argument list with its output in a log file, stopped by its PID (SIGTERM,
// then SIGKILL after a bounded wait). Helpers for free loopback ports,
// scratch directories and waiting until a server accepts connections.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "NetTestPeers.h"

extern char** environ;

namespace tarnwick::test {

inline std::string FindProgram(const std::string& name) {
  for (const char* dir : {"/usr/sbin", "/usr/bin", "/sbin", "/bin", "/usr/local/bin", "/usr/local/sbin"}) {
    std::string path = std::string(dir) + "/" + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return std::string();
}

// A loopback TCP port that was free a moment ago.
inline std::uint16_t FreeTcpPort() {
  SocketFunctionTable& api = SocketApi();
  SocketAddress local = LoopbackAddress("127.0.0.1", 0);
  SocketHandle s = api.socket(local.family, 1, 6);
  api.bind(s, &local, SocketAddressLength(local));
  int length = sizeof(local);
  api.getsockname(s, &local, &length);
  api.closesocket(s);
  return api.ntohs(local.port);
}

inline bool PortAccepts(std::uint16_t port) {
  SocketFunctionTable& api = SocketApi();
  SocketAddress to = LoopbackAddress("127.0.0.1", port);
  SocketHandle s = api.socket(to.family, 1, 6);
  const bool ok = api.connect(s, &to, SocketAddressLength(to)) == 0;
  api.closesocket(s);
  return ok;
}

class ScratchDirectory {
 public:
  ScratchDirectory() {
    char pattern[] = "/tmp/tarnwick-peer-XXXXXX";
    if (mkdtemp(pattern)) path_ = pattern;
  }
  ~ScratchDirectory() {
    if (path_.empty()) return;
    // Only the files this directory was given, then the directory itself.
    for (const std::string& f : files_) unlink(f.c_str());
    rmdir(path_.c_str());
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) {
    std::string full = path_ + "/" + name;
    files_.push_back(full);
    return full;
  }
  std::string Write(const std::string& name, const std::string& text) {
    std::string full = File(name);
    std::ofstream(full, std::ios::binary) << text;
    return full;
  }

 private:
  std::string path_;
  std::vector<std::string> files_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class PeerProcess {
 public:
  PeerProcess(const std::vector<std::string>& argv, const std::string& logFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~PeerProcess() { Stop(); }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }
  // True once the server accepts on the port, within the limit.
  bool WaitAccepting(std::uint16_t port, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      if (!Running()) return false;
      if (PortAccepts(port)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 40; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

}  // namespace tarnwick::test

namespace tarnwick::test {

// A configuration template of this folder with @PORT@ and @DIR@ filled in.
inline std::string PeerConfig(const std::string& templateName, std::uint16_t port, const std::string& dir) {
  std::string text = ReadFile(std::string(TARNWICK_PEER_CONFIG_DIR) + "/" + templateName);
  for (const auto& [key, value] : {std::pair<std::string, std::string>{"@PORT@", std::to_string(port)},
                                   std::pair<std::string, std::string>{"@DIR@", dir}}) {
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size())) {
      text.replace(at, key.size(), value);
    }
  }
  return text;
}

}  // namespace tarnwick::test

namespace tarnwick::test {

// Starts a server whose configuration template takes the port, on a port
// that was free a moment ago (a few attempts, as another process may take
// it in between); null when it never accepted.
inline PeerProcess* StartConfiguredServer(const std::string& program, const std::string& templateName,
                                          ScratchDirectory& scratch, std::uint16_t& port,
                                          std::vector<std::string> (*arguments)(const std::string& config,
                                                                                ScratchDirectory& scratch)) {
  if (program.empty()) return nullptr;
  const std::string base = templateName.substr(0, templateName.find('.'));
  for (int attempt = 0; attempt < 3; ++attempt) {
    port = FreeTcpPort();
    const std::string config = scratch.Write(base + ".conf", PeerConfig(templateName, port, scratch.Path()));
    std::vector<std::string> argv = arguments(config, scratch);
    argv.insert(argv.begin(), program);
    auto* server = new PeerProcess(argv, scratch.File(base + ".out"));
    if (server->WaitAccepting(port, 5000)) return server;
    delete server;
  }
  return nullptr;
}

inline PeerProcess* StartDanted(ScratchDirectory& scratch, std::uint16_t& port) {
  scratch.File("danted.log");
  return StartConfiguredServer(FindProgram("danted"), "danted.conf.in", scratch, port,
                               [](const std::string& config, ScratchDirectory& s) {
                                 return std::vector<std::string>{"-f", config, "-p", s.File("danted.pid"),
                                                                 "-N", "1"};
                               });
}

// The account of the user/password tests exists only inside the mount
// namespace of one danted: copies of the system's passwd and shadow files,
// with the account added, are bound over the real ones there (danted's
// "username" method looks the user up with getpwnam/getspnam), so the
// machine running the tests never gets a login account. Needs root, for
// the namespace and to read the shadow file; `why` says what was missing.
struct SocksTestAccount {
  std::string name;
  std::string password;
};

// A SHA-512 crypt hash of the password, made by the openssl program.
inline std::string CryptHash(ScratchDirectory& scratch, const std::string& password) {
  const std::string openssl = FindProgram("openssl");
  if (openssl.empty()) return std::string();
  const std::string out = scratch.File("hash.out");
  PeerProcess hasher({openssl, "passwd", "-6", password}, out);
  for (int i = 0; i < 200 && hasher.Running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  std::string hash = ReadFile(out);
  while (!hash.empty() && (hash.back() == '\n' || hash.back() == '\r')) hash.pop_back();
  return hash.compare(0, 3, "$6$") == 0 ? hash : std::string();
}

// The system file without any entry of that name, then the given entry.
inline std::string WithAccount(const std::string& file, const std::string& name, const std::string& entry) {
  std::istringstream in(file);
  std::string out, line;
  while (std::getline(in, line)) {
    if (line.compare(0, name.size() + 1, name + ":") != 0) out += line + "\n";
  }
  return out + entry + "\n";
}

inline PeerProcess* StartDantedWithAccount(ScratchDirectory& scratch, std::uint16_t& port,
                                           const SocksTestAccount& account, std::string& why) {
  if (geteuid() != 0) {
    why = "the SOCKS user/password test needs root (a private mount namespace for danted)";
    return nullptr;
  }
  if (FindProgram("danted").empty() || FindProgram("unshare").empty()) {
    why = "danted or unshare is not installed";
    return nullptr;
  }
  const std::string shadow = ReadFile("/etc/shadow");
  const std::string hash = CryptHash(scratch, account.password);
  if (shadow.empty() || hash.empty()) {
    why = "cannot read /etc/shadow or make a password hash with openssl";
    return nullptr;
  }
  scratch.Write("passwd", WithAccount(ReadFile("/etc/passwd"), account.name,
                                      account.name + ":x:64999:64999::/nonexistent:/usr/sbin/nologin"));
  scratch.Write("shadow",
                WithAccount(shadow, account.name, account.name + ":" + hash + ":19000:0:99999:7:::"));
  chmod((scratch.Path() + "/shadow").c_str(), 0600);
  scratch.File("danted.log");
  // unshare and sh both exec, so the PID that the test stops is danted's.
  PeerProcess* server = StartConfiguredServer(
      FindProgram("unshare"), "danted.conf.in", scratch, port,
      [](const std::string& config, ScratchDirectory& s) {
        const std::string script =
            "mount --bind \"$0/passwd\" /etc/passwd && mount --bind \"$0/shadow\" /etc/shadow && "
            "exec \"$1\" -f \"$2\" -p \"$3\" -N 1";
        return std::vector<std::string>{
            "--mount", "--propagation",       "private", "/bin/sh",           "-c", script,
            s.Path(),  FindProgram("danted"), config,    s.File("danted.pid")};
      });
  return server;  // null with `why` empty: it did not start, a failure of its own
}

inline PeerProcess* StartTinyproxy(ScratchDirectory& scratch, std::uint16_t& port) {
  scratch.File("tinyproxy.log");
  return StartConfiguredServer(FindProgram("tinyproxy"), "tinyproxy.conf.in", scratch, port,
                               [](const std::string& config, ScratchDirectory&) {
                                 return std::vector<std::string>{"-d", "-c", config};
                               });
}

}  // namespace tarnwick::test
