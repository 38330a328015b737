// Real TFTP clients against `tarnwick-cli serve`: every client we know of in
// the field, both directions, with and without options, over IPv4 and IPv6;
// each copy compared byte for byte and found in the server's JSON log.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "../support/RequiredPeer.h"
#include "../tftp/ScriptedPeer.h"
#include "ServeProcess.h"

namespace {

using tarnwick::testing_support::Pattern;
using tarnwick::testing_support::ReadWhole;
using tarnwick::testing_support::ServeProcess;
using tarnwick::testing_support::WriteWhole;

enum class Ask { None, Blksize, Window, Netascii };

struct ClientRow {
  const char* client;  // the program that must be installed
  bool put;
  Ask ask;
  bool ipv6;
};

bool Installed(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

bool Ipv6Loopback() {
  int s = ::socket(AF_INET6, SOCK_DGRAM, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  bool ok = s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (s >= 0) ::close(s);
  return ok;
}

// The row's command line; remote and local are plain names in the current folder.
std::string CommandFor(const ClientRow& r, std::uint16_t port, const std::string& remote, const std::string& local) {
  const std::string host = r.ipv6 ? "::1" : "127.0.0.1", p = std::to_string(port);
  const std::string client = r.client;
  std::string c;
  if (client == "tarnwick-cli") {
    c = std::string(TARNWICK_CLI_PATH) + (r.put ? " put " + host + " " + local + " " + remote
                                                 : " get " + host + " " + remote + " " + local) + " --port " + p;
    if (r.ask != Ask::None) c += " --blksize 1428";
    if (r.ask == Ask::Window) c += " --windowsize 16";
  } else if (client == "tftp") {
    c = "tftp" + std::string(r.ipv6 ? " -6" : " -4") + (r.ask == Ask::Netascii ? " -m ascii " : " -m binary ") +
        host + " " + p + " -c " + (r.put ? "put " + local + " " + remote : "get " + remote + " " + local);
  } else if (client == "atftp") {
    c = "atftp";
    if (r.ask != Ask::None) c += " --option 'blksize 1428'";
    if (r.ask == Ask::Window) c += " --option 'windowsize 16'";
    c += (r.put ? " -p -l " + local + " -r " + remote : " -g -r " + remote + " -l " + local) + " " + host + " " + p;
  } else if (client == "busybox") {
    c = std::string("busybox tftp") + (r.ask != Ask::None ? " -b 1428" : "") +
        (r.put ? " -p -l " + local + " -r " + remote : " -g -r " + remote + " -l " + local) + " " + host + " " + p;
  } else {  // curl: without options it sends none at all
    c = std::string("curl -sS") + (r.ask != Ask::None ? " --tftp-blksize 1428" : " --tftp-no-options") +
        (r.put ? " -T " + local : " -o " + local) + " tftp://" + (r.ipv6 ? "[::1]" : host) + ":" + p + "/" + remote;
  }
  return c;
}

// Bounded: the log line may follow the client's exit by a moment.
bool LoggedDone(const ServeProcess& server, const std::string& remote) {
  static const std::regex done(R"("result"\s*:\s*"done")");
  for (int wait = 0; wait < 100; ++wait) {
    const std::string log = server.Log();
    for (std::size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
      const std::string line = log.substr(at, end - at);
      // The name as requested, perhaps with a folder before it.
      if (line.find(remote + "\"") != std::string::npos && std::regex_search(line, done)) return true;
    }
    ::poll(nullptr, 0, 50);
  }
  return false;
}

TEST(ServeProcess, RealClientsBothDirections) {
  const ClientRow rows[] = {
      {"tarnwick-cli", false, Ask::None, false},  {"tarnwick-cli", true, Ask::None, false},
      {"tarnwick-cli", false, Ask::Window, false}, {"tarnwick-cli", true, Ask::Window, false},
      {"tarnwick-cli", false, Ask::Blksize, true}, {"tarnwick-cli", true, Ask::None, true},
      {"tftp", false, Ask::None, false},           {"tftp", true, Ask::None, false},
      {"tftp", false, Ask::Netascii, false},       {"tftp", true, Ask::Netascii, false},
      {"tftp", false, Ask::None, true},            {"tftp", true, Ask::None, true},
      {"atftp", false, Ask::None, false},          {"atftp", true, Ask::None, false},
      {"atftp", false, Ask::Window, false},        {"atftp", true, Ask::Window, false},
      {"atftp", false, Ask::Blksize, true},        {"atftp", true, Ask::None, true},
      {"busybox", false, Ask::None, false},        {"busybox", true, Ask::None, false},
      {"busybox", false, Ask::Blksize, false},     {"busybox", true, Ask::Blksize, false},
      {"busybox", false, Ask::None, true},         {"busybox", true, Ask::None, true},
      {"curl", false, Ask::None, false},           {"curl", true, Ask::None, false},
      {"curl", false, Ask::Blksize, false},        {"curl", true, Ask::Blksize, false},
      {"curl", false, Ask::Blksize, true},         {"curl", true, Ask::None, true},
  };
  if (!Ipv6Loopback()) TARNWICK_MISSING_PEER("an IPv6 loopback (::1)");
  for (const char* program : {"tftp", "atftp", "busybox", "curl"})
    if (!Installed(program)) TARNWICK_MISSING_PEER(std::string(program) + " (scripts/setup-debian.sh installs it)");
  ServeProcess server({"--upload", "--log-json"}, true);
  ASSERT_EQ(server.Unavailable(), "");
  char folder[] = "/tmp/tarnwick-serve-client-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string here = folder;
  int n = 0;
  for (const ClientRow& r : rows) {
    ++n;
    const std::string remote = "row" + std::to_string(n) + (r.put ? ".up" : ".down");
    SCOPED_TRACE(std::string(r.client) + (r.put ? " put " : " get ") + remote + (r.ipv6 ? " over IPv6" : ""));
    // Not a multiple of 512 or 1428, over one window of 16, lines for netascii.
    std::string bytes = r.ask == Ask::Netascii ? std::string(3000, 'x') + "\nline two\r\nbare cr\rend\n"
                                               : Pattern(100'003, static_cast<unsigned>(n));
    if (r.ask == Ask::Netascii)
      for (int i = 0; i < 50; ++i) bytes += "config line " + std::to_string(i) + "\n";
    const std::string local = "local" + std::to_string(n);
    WriteWhole(r.put ? here + "/" + local : server.Root() + "/" + remote, bytes);
    const std::string command = "cd " + here + " && timeout -k 5 60 " +
                                CommandFor(r, r.ipv6 ? server.Port6() : server.Port(), remote, local) +
                                " </dev/null >" + here + "/client.log 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << "\n" << ReadWhole(here + "/client.log");
    EXPECT_TRUE(LoggedDone(server, remote)) << server.Log();
    const std::string copy = ReadWhole(r.put ? server.Root() + "/" + remote : here + "/" + local);
    EXPECT_EQ(copy.size(), bytes.size());
    EXPECT_TRUE(copy == bytes);
  }
  EXPECT_EQ(std::system(("rm -rf '" + here + "'").c_str()), 0);
}

}  // namespace
