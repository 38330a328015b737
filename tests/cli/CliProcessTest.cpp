// The tarnwick-cli program itself: exit status and output streams as a shell
// sees them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#ifndef _WIN32
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>
#include <tuple>
#include <vector>

#include "../support/RequiredPeer.h"
#include "../tftp/ScriptedPeer.h"

namespace {

#ifndef _WIN32
struct Outcome {
  int status = -1;
  std::string output;  // stdout and stderr together
};

Outcome RunCli(const std::string& arguments) {
  Outcome o;
  std::string command = std::string(TARNWICK_CLI_PATH) + " " + arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return o;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) o.output.append(buffer, n);
  int raw = ::pclose(pipe);
  o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return o;
}

TEST(CliProcess, ExitStatusForUsageAndHelp) {
  tarnwick::testing_support::ScriptedPeer silent;  // a loopback port where nothing answers
  const std::string port = std::to_string(silent.Port());
  struct Row {
    std::string arguments;
    int status;
    std::string mustContain;
  };
  const Row rows[] = {
      {"", 2, "usage: tarnwick-cli get"},
      {"get 127.0.0.1", 2, "missing arguments"},
      {"get 127.0.0.1 f --timeout abc", 2, "--timeout"},
      {"--help", 0, "--raw-name"},
      {"put 127.0.0.1 /nonexistent/tarnwick-input --port " + port, 2,
       "cannot read /nonexistent/tarnwick-input: No such file or directory"},
      // With --json every exit-2 path ends with its one object.
      {"get 127.0.0.1 f --json --port 99999", 2, "{\"command\":\"get\",\"result\":\"usage\""},
      {"get 127.0.0.1 f --json -q", 2, "\"reason\":\"unknown option -q"},
      {"get 127.0.0.1 f /nonexistent/x --json", 2, "\"result\":\"local-error\""},
      {"get 127.0.0.1 f x --json --password-file /tmp", 2, "password file /tmp: Is a directory\"}"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.arguments);
    Outcome o = RunCli(r.arguments);
    EXPECT_EQ(o.status, r.status) << o.output;
    EXPECT_NE(o.output.find(r.mustContain), std::string::npos) << o.output;
    EXPECT_EQ(o.output.find("tarnwick-cli:"), o.output.rfind("tarnwick-cli:")) << o.output;  // said once
  }
}

TEST(CliProcess, WindowEngineUnreachableServerExitsWithOneAfterOneWait) {
  // The request reaches a socket that never answers.
  tarnwick::testing_support::ScriptedPeer silent;
  const std::string target = ::testing::TempDir() + "tarnwick-cli-unreachable.bin";
  Outcome o = RunCli("get 127.0.0.1 config " + target + " --port " + std::to_string(silent.Port()) +
                     " --timeout 300 --engine window");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_NE(o.output.find("ホストから返ってきたエラーコード：0 - \n"), std::string::npos) << o.output;
  EXPECT_TRUE(silent.Receive(1000).has_value());  // the one request, sent once
  EXPECT_FALSE(silent.Receive(200).has_value());
  EXPECT_EQ(std::fopen(target.c_str(), "rb"), nullptr);
}
// The real binary started with posix_spawn, so a test can signal it, give
// it its own environment and read stdout and stderr apart.
class Child {
 public:
  // input: the file standard input is opened from ("" leaves the test's own),
  // non-blocking as some parents hand a pipe over: no bytes yet is no error.
  // closed: a standard descriptor (0-2) the program starts without.
  // wrapper: a command the program is run through (setpriv ...).
  Child(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {},
        const std::string& input = "", int closed = -1, const std::vector<std::string>& wrapper = {}) {
    const std::string base = ::testing::TempDir() + "tarnwick-child-" + std::to_string(::getpid());
    outPath_ = base + ".out";
    errPath_ = base + ".err";
    std::vector<std::string> argv = wrapper;
    argv.push_back(TARNWICK_CLI_PATH);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args, env;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<std::string> envCopy = environment;
    for (std::string& e : envCopy) env.push_back(e.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (closed != 1)
      posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (closed != 2)
      posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!input.empty())
      posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY | O_NONBLOCK, 0);
    if (closed >= 0) posix_spawn_file_actions_addclose(&actions, closed);
    if (::posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), env.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ > 0 && status_ == -2) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    std::remove(outPath_.c_str());
    std::remove(errPath_.c_str());
  }
  void Signal(int number) { ::kill(pid_, number); }
  // Exit status within timeoutMs, -1 for a signal death, -2 when still running.
  int Wait(int timeoutMs) {
    for (int waited = 0; status_ == -2 && waited <= timeoutMs; waited += 20) {
      int raw = 0;
      if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return status_;
  }
  std::string Out() const { return Read(outPath_); }
  std::string Err() const { return Read(errPath_); }

 private:
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  pid_t pid_ = -1;
  int status_ = -2;
  std::string outPath_, errPath_;
};

using tarnwick::testing_support::Ack;
using tarnwick::testing_support::Data;
using tarnwick::testing_support::Pattern;
using tarnwick::testing_support::ScriptedPeer;

// Everything in the folder whose name starts with prefix (the target and
// any temporary file beside it).
std::vector<std::string> FilesStartingWith(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) found.push_back(entry.path().string());
  return found;
}

// The first stop signal abandons the transfer properly: ERROR to the server,
// exit 1, the JSON object, and only what is known said of what is left --
// also while the program waits on a pipe that nobody writes or a FIFO that
// nobody reads.
TEST(CliProcess, TerminatedMidTransferLeavesNoFileAndTellsTheServer) {
  const std::string folder = ::testing::TempDir();
  const std::string fifoPath = folder + "tarnwick-cli-signal-" + std::to_string(::getpid()) + ".fifo";
  ::mkfifo(fifoPath.c_str(), 0600);
  enum Kind { GetFile, PutFromSilentPipe, GetIntoUnreadFifo };
  struct Row {
    const char* name;
    Kind kind;
    int signal;
    std::string afterStop;
  };
  const Row rows[] = {
      {"get SIGTERM", GetFile, SIGTERM, "no partial file left"},
      {"get SIGINT", GetFile, SIGINT, "no partial file left"},
      {"put from a pipe nobody writes", PutFromSilentPipe, SIGINT, "the device may keep what it received"},
      {"get into a FIFO nobody reads", GetIntoUnreadFifo, SIGINT, "what arrived was written to"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ScriptedPeer peer;
    const std::string prefix = std::string("tarnwick-cli-signal-") + std::to_string(r.kind) + ".bin";
    // Held open and never written or read: the program would wait on it for ever.
    const int fifo = ::open(fifoPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    std::vector<std::string> args = {"get", "127.0.0.1", "fw.bin",
                                     r.kind == GetFile ? folder + prefix : fifoPath};
    if (r.kind == PutFromSilentPipe) args = {"put", "127.0.0.1", "-", "fw.bin"};
    args.insert(args.end(), {"--port", std::to_string(peer.Port()), "--timeout", "5000", "--progress",
                             "never", "--json"});
    Child child(args, {}, r.kind == PutFromSilentPipe ? fifoPath : "");
    ASSERT_TRUE(peer.Receive(5000).has_value());
    if (r.kind == PutFromSilentPipe) {
      peer.Reply(Ack(0));
      EXPECT_FALSE(peer.Receive(300).has_value());  // no block: the pipe has none
    } else {
      // A file: three full blocks, then the server goes silent (temporary
      // file open). A FIFO: blocks until the program stops acknowledging,
      // its writes stuck.
      for (std::uint16_t block = 1; block <= (r.kind == GetFile ? 3 : 2000); ++block) {
        peer.Reply(Data(block, Pattern(512, block)));
        if (peer.Receive(r.kind == GetFile ? 5000 : 1000).value_or("") != Ack(block)) break;
      }
    }
    if (r.kind == GetFile) {
      EXPECT_EQ(FilesStartingWith(folder, prefix).size(), 1u);  // the temporary file
    }
    child.Signal(r.signal);
    EXPECT_EQ(child.Wait(10000), 1) << child.Err();
    // The client may have acknowledged its last block again after its own
    // wait before the signal came; the ERROR follows those repeats.
    std::string error = peer.Receive(2000).value_or("");
    for (int repeat = 0; repeat < 10 && error.substr(0, 2) == std::string("\0\4", 2); ++repeat)
      error = peer.Receive(2000).value_or("");
    EXPECT_EQ(error.substr(0, 2), std::string("\0\5", 2));  // ERROR to the server
    EXPECT_EQ(FilesStartingWith(folder, prefix), std::vector<std::string>{});
    const std::string signal = r.signal == SIGTERM ? "SIGTERM" : "SIGINT";
    EXPECT_NE(child.Err().find("interrupted by " + signal + ": transfer abandoned, " + r.afterStop),
              std::string::npos)
        << child.Err();
    EXPECT_NE(child.Out().find("\"result\":\"interrupted\""), std::string::npos) << child.Out();
    ::close(fifo);
  }
  std::remove(fifoPath.c_str());
}

// A get exits with its result at once (a 5 s linger would hold a script's
// loop that long); the lingering socket outlives the program and still
// answers a repeat of the last block.
TEST(CliProcess, GetExitsAtOnceAndItsLingerOutlivesIt) {
  ScriptedPeer peer;
  const std::string target = ::testing::TempDir() + "tarnwick-cli-linger.cfg";
  Child child({"get", "127.0.0.1", "cfg", target, "--port", std::to_string(peer.Port()), "--timeout", "5000",
               "--json", "--quiet"});
  ASSERT_TRUE(peer.Receive(5000).has_value());
  peer.Reply(Data(1, "short"));
  EXPECT_EQ(peer.Receive(5000).value_or(""), Ack(1));
  EXPECT_EQ(child.Wait(15000), 0) << child.Err();
  EXPECT_NE(child.Out().find("\"result\":\"done\""), std::string::npos) << child.Out();
  peer.Reply(Data(1, "short"));  // as if the ACK had been lost, after the exit
  EXPECT_EQ(peer.Receive(5000).value_or(""), Ack(1));
  std::remove(target.c_str());
}

TEST(CliProcess, PasswordFromEnvironmentOrFileNeverPrinted) {
  const std::string secret = "Xk9-hidden-pw";
  const std::string file = ::testing::TempDir() + "tarnwick-cli-password.txt";
  { std::ofstream(file, std::ios::binary) << secret << "\n"; }
  struct Row {
    std::vector<std::string> extra;
    std::vector<std::string> environment;
  };
  const Row rows[] = {{{"--json"}, {"TARNWICK_PASSWORD=" + secret}},
                      {{"--json", "--password-file", file}, {"TARNWICK_PASSWORD=other"}},
                      {{"--engine", "window", "--password-file", file}, {}}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.extra));
    ScriptedPeer peer;
    std::vector<std::string> args = {"get",
                                     "127.0.0.1",
                                     "startup-config",
                                     ::testing::TempDir() + "tarnwick-cli-pw.cfg",
                                     "--port",
                                     std::to_string(peer.Port())};
    args.insert(args.end(), r.extra.begin(), r.extra.end());
    Child child(args, r.environment);
    std::string request = peer.Receive(5000).value_or("");
    EXPECT_EQ(request, std::string("\0\1startup-config/", 17) + secret + std::string("\0octet\0", 7));
    peer.Reply(
        tarnwick::testing_support::Error(2, "denied: startup-config/" + secret + std::string(1, '\0')));
    EXPECT_EQ(child.Wait(10000), 1) << child.Err();
    EXPECT_EQ(child.Out().find(secret), std::string::npos) << child.Out();
    EXPECT_EQ(child.Err().find(secret), std::string::npos) << child.Err();
    EXPECT_NE(child.Err().find("denied: startup-config***"), std::string::npos) << child.Err();
  }
  std::remove(file.c_str());
}

TEST(CliProcess, VersionAndIPv6LiteralHost) {
  Child version({"--version"});
  EXPECT_EQ(version.Wait(5000), 0);
  EXPECT_EQ(version.Out().rfind("tarnwick-cli ", 0), 0u) << version.Out();

  // A bare UDP socket on ::1 stands in for the server: the request must
  // reach it, from both spellings of the address.
  int s = ::socket(AF_INET6, SOCK_DGRAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string port = std::to_string(ntohs(address.sin6_port));
  for (const char* host : {"::1", "[::1]"}) {
    SCOPED_TRACE(host);
    Child child({"get", host, "cfg", ::testing::TempDir() + "tarnwick-cli-v6.cfg", "--port", port,
                 "--timeout", "100", "--retries", "0", "--json"});
    EXPECT_EQ(child.Wait(10000), 1) << child.Err();
    char buffer[64];
    ssize_t n = ::recv(s, buffer, sizeof buffer, MSG_DONTWAIT);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), std::string("\0\1cfg\0octet\0", 12));
    EXPECT_NE(child.Out().find("\"server\":\"[::1]:" + port + "\""), std::string::npos) << child.Out();
  }
  ::close(s);
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct stat StatOf(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st;
}

// Every kind of LOCAL a get may name, through the real program: content,
// mode and owner where the bytes land, the kind of file LOCAL stays, the
// exit status. Root writes anything, so the read-only row checks that the
// missing owner write bit refuses all the same. As root the device is a
// private twin of /dev/null: a program that wrongly replaced its target
// must not take the machine's own (others cannot replace anything in /dev).
TEST(CliProcess, GetIntoEveryKindOfLocalTarget) {
  const std::string dir = ::testing::TempDir() + "tarnwick-targets-" + std::to_string(::getpid());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir + "/in");
  const std::string content = Pattern(300, 5);
  const uid_t me = ::geteuid(), other = me == 0 ? 65534 : me;  // nobody
  const mode_t mask = ::umask(022);
  ::umask(mask);
  for (auto [name, mode, owner] : {std::tuple{"/a.cfg", 0600, me},
                                   {"/b.cfg", 0640, other},
                                   {"/ro.cfg", 0444, me},
                                   {"/real.cfg", 0600, me}}) {
    { std::ofstream(dir + name) << "old"; }
    ::chmod((dir + name).c_str(), mode);
    ASSERT_EQ(::chown((dir + name).c_str(), owner, owner), 0);
  }
  std::filesystem::create_symlink("real.cfg", dir + "/link.cfg");
  // Kept by the rename: an extended attribute (where the file system has them).
  const bool attribute = ::setxattr((dir + "/a.cfg").c_str(), "user.tarnwick", "kept", 4, 0) == 0;
  // Written in place: a second name of the same file, and another user's
  // file of our group in a sticky folder (run as that group's member).
  { std::ofstream(dir + "/hl.cfg") << "old"; }
  ::chmod((dir + "/hl.cfg").c_str(), 0600);
  std::filesystem::create_hard_link(dir + "/hl.cfg", dir + "/hl-other.cfg");
  std::filesystem::create_directories(dir + "/shared");
  ::chmod((dir + "/shared").c_str(), 01777);
  { std::ofstream(dir + "/shared/g.cfg") << "old"; }
  ::chmod((dir + "/shared/g.cfg").c_str(), 0664);
  const bool foreign = me == 0 && ::chown((dir + "/shared/g.cfg").c_str(), 65534, 65534) == 0;
  ::mkfifo((dir + "/fifo").c_str(), 0600);
  // Both FIFO ends held: the program's open never waits, its bytes stay.
  const int fifo = ::open((dir + "/fifo").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  const bool twin = me == 0 && ::mknod((dir + "/null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0;
  struct Row {
    std::string name, local, landed;  // landed: the file that must hold the bytes ("" none)
    int status;
    mode_t mode;
    uid_t owner;
    int closed = -1;           // a standard descriptor closed at start
    bool groupMember = false;  // run as another user of the file's group (needs root to set up)
  };
  const Row rows[] = {
      {"regular 0600", dir + "/a.cfg", dir + "/a.cfg", 0, 0600, me},
      {"another user's 0640", dir + "/b.cfg", dir + "/b.cfg", 0, 0640, other},
      {"new file", dir + "/new.cfg", dir + "/new.cfg", 0, 0666 & ~mask, me},
      {"read-only", dir + "/ro.cfg", dir + "/ro.cfg", 2, 0444, me},
      {"symlink", dir + "/link.cfg", dir + "/real.cfg", 0, 0600, me},
      {"folder", dir + "/in", dir + "/in/fw.cfg", 0, 0666 & ~mask, me},
      {"FIFO", dir + "/fifo", "", 0, 0, 0},
      {"character device", twin ? dir + "/null" : "/dev/null", "", 0, 0, 0},
      {"-", "-", "", 0, 0, 0},
      // A file opened first must not take a closed descriptor's number and
      // receive the work log or the JSON; "-" with no stream behind it is
      // refused, never written to the null device and called done.
      {"2>&-", dir + "/e.cfg", dir + "/e.cfg", 0, 0666 & ~mask, me, 2},
      {"1>&- --json", dir + "/o.cfg", dir + "/o.cfg", 0, 0666 & ~mask, me, 1},
      {"0<&-", dir + "/i.cfg", dir + "/i.cfg", 0, 0666 & ~mask, me, 0},
      {"1>&- into -", "-", "", 2, 0, 0, 1},
      {"hard link", dir + "/hl.cfg", dir + "/hl-other.cfg", 0, 0600, me},
      {"another user's group file", dir + "/shared/g.cfg", dir + "/shared/g.cfg", 0, 0664, 65534, -1, true},
      {"procfs", "/proc/self/comm", "", 0, 0, 0},  // no temporary file can go beside it
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    if (r.groupMember && !foreign) continue;  // reported below
    const mode_t kind = StatOf(r.local).st_mode & S_IFMT;
    ScriptedPeer peer;
    std::vector<std::string> args = {"get",   "127.0.0.1", "dir/fw.cfg",
                                     r.local, "--port",    std::to_string(peer.Port())};
    if (r.closed != 2) args.push_back("--quiet");  // the work log is what would stray
    if (r.closed == 1 && r.local != "-") args.push_back("--json");
    const std::vector<std::string> member = {"/usr/bin/setpriv", "--reuid=65533", "--regid=65534",
                                             "--groups=65534"};
    Child child(args, {}, "", r.closed, r.groupMember ? member : std::vector<std::string>{});
    if (r.status == 0) {
      ASSERT_TRUE(peer.Receive(5000).has_value());
      peer.Reply(Data(1, content));
      EXPECT_EQ(peer.Receive(5000).value_or(""), Ack(1));
    } else {
      EXPECT_FALSE(peer.Receive(500).has_value());  // refused before any traffic
    }
    EXPECT_EQ(child.Wait(10000), r.status) << child.Err();
    if (kind != 0) {  // what existed stays what it was: a link, a FIFO, a device
      EXPECT_EQ(StatOf(r.local).st_mode & S_IFMT, kind);
    }
    if (r.local == "-") {
      EXPECT_EQ(child.Out(), r.status == 0 ? content : "");
    }
    if (!r.landed.empty()) {
      EXPECT_EQ(FileText(r.landed), r.status == 0 ? content : "old");
      EXPECT_EQ(StatOf(r.landed).st_mode & 07777, r.mode);
      EXPECT_EQ(StatOf(r.landed).st_uid, r.owner);
    }
  }
  char kept[8] = {};
  if (attribute) {
    EXPECT_EQ(::getxattr((dir + "/a.cfg").c_str(), "user.tarnwick", kept, sizeof kept), 4);
  }
  EXPECT_EQ(StatOf(dir + "/hl.cfg").st_ino, StatOf(dir + "/hl-other.cfg").st_ino);
  std::string fromFifo(content.size() + 1, '\0');
  fromFifo.resize(std::max<ssize_t>(::read(fifo, fromFifo.data(), fromFifo.size()), 0));
  EXPECT_EQ(fromFifo, content);
  ::close(fifo);
  // No temporary file is left anywhere.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
    EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
  std::filesystem::remove_all(dir);
  if (!foreign) TARNWICK_MISSING_PEER("root, to make another user's file for the group-member row");
}

// A full disk in the middle of a get, made with a file-size limit that the
// program inherits: ERROR 3 to the server, the system's reason with the
// offset where the data stopped, exit 2, the JSON object, no file left.
TEST(CliProcess, DiskFullMidGetTellsServerAndExitsTwo) {
  ScriptedPeer peer;
  const std::string target = ::testing::TempDir() + "tarnwick-cli-full.bin";
  std::remove(target.c_str());
  const rlim_t limit = 100000;
  struct rlimit saved {};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = limit;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  Child child({"get", "127.0.0.1", "fw.bin", target, "--port", std::to_string(peer.Port()), "--json",
               "--quiet", "--progress", "never"});
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ASSERT_TRUE(peer.Receive(5000).has_value());
  std::string answer;
  // Well past the 256 KiB the program buffers before its first write.
  for (std::uint16_t block = 1; block <= 700; ++block) {
    peer.Reply(Data(block, Pattern(512, block)));
    answer = peer.Receive(5000).value_or("");
    if (answer != Ack(block)) break;
  }
  EXPECT_EQ(answer.substr(0, 4), std::string("\0\5\0\3", 4));  // ERROR 3, disk full
  EXPECT_EQ(child.Wait(10000), 2) << child.Err();
  EXPECT_NE(child.Err().find("File too large, at byte " + std::to_string(limit)), std::string::npos)
      << child.Err();
  EXPECT_NE(child.Out().find("\"result\":\"local-error\""), std::string::npos) << child.Out();
  EXPECT_EQ(FilesStartingWith(::testing::TempDir(), "tarnwick-cli-full.bin"), std::vector<std::string>{});
}

// Every kind of source a put may read, through the real program: the device
// gets exactly the bytes. A stream has no size to announce, so --tsize sends
// none for it; a regular file announces its size. A stream is sent only once
// it has ended, however its descriptor reads. A regular file that grows or
// shrinks while it is sent is abandoned before its last block goes out.
TEST(CliProcess, PutFromEveryKindOfSource) {
  const std::string folder = ::testing::TempDir() + "tarnwick-sources-" + std::to_string(::getpid());
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string fifoPath = folder + "/fifo", content = "new config\n", large = Pattern(1300, 9);
  { std::ofstream(folder + "/cfg", std::ios::binary) << content; }
  ::mkfifo(fifoPath.c_str(), 0600);
  struct Row {
    std::string name, local, input;  // input: what standard input is opened from
    bool stream;
    std::uintmax_t resizeTo;  // after the first block (0: left alone)
    bool rewrite = false;     // in one window, rewritten before blocks 2-3 go again
  };
  const Row rows[] = {
      {"regular file", folder + "/cfg", "", false, 0},
      {"FIFO", fifoPath, "", true, 0},
      {"pipe on standard input", "-", fifoPath, true, 0},
      {"file on standard input", "-", folder + "/cfg", true, 0},  // "-" is always read as a stream
      {"growing file", folder + "/growing", "", false, 4000},
      {"shrinking file", folder + "/shrinking", "", false, 700},
      // Its stated size is 0: only reading it to its end finds the content.
      {"procfs", "/proc/self/cmdline", "", true, 0},
      {"change during a resend", folder + "/resent", "", false, 0, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    if (r.resizeTo || r.rewrite) std::ofstream(r.local, std::ios::binary) << large;
    ScriptedPeer peer;
    // Both ends held open: the program's open never waits, and the bytes
    // stay in the FIFO until it reads them. Not inherited: a writer left in
    // the child would keep its stream from ever ending.
    int fifo = ::open(fifoPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fifo, 0);
    ASSERT_EQ(::write(fifo, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    std::vector<std::string> args = {
        "put",     "127.0.0.1", r.local,      "startup-config", "--port", std::to_string(peer.Port()),
        "--tsize", "--quiet",   "--progress", "never"};
    if (r.rewrite) args.insert(args.end(), {"--windowsize", "4"});
    Child child(args, {}, r.input);
    std::string sent = content;
    if (r.name == "procfs") {  // the program's own command line
      sent = std::string(TARNWICK_CLI_PATH) + '\0';
      for (const std::string& a : args) sent += a + '\0';
    }
    std::string request = peer.Receive(5000).value_or("");
    if (r.rewrite) {
      ::close(fifo);
      peer.Reply(std::string("\0\6windowsize\0004\0", 15));
      for (std::uint16_t block = 1; block <= 3; ++block)
        EXPECT_EQ(peer.Receive(5000).value_or("").substr(0, 4), Data(block, ""));
      std::ofstream(r.local, std::ios::binary) << Pattern(large.size(), 4);  // same size, new bytes
      std::filesystem::last_write_time(r.local,
                                       std::filesystem::last_write_time(r.local) + std::chrono::seconds(2));
      peer.Reply(Ack(1));  // 2 and 3 were lost
      EXPECT_EQ(peer.Receive(5000).value_or("").substr(0, 4), std::string("\0\5\0\0", 4));
      EXPECT_EQ(child.Wait(10000), 1) << child.Err();
      EXPECT_NE(child.Err().find("was modified while it was being sent"), std::string::npos) << child.Err();
      continue;
    }
    const std::string plain = std::string("\0\2startup-config\0octet\0", 23);
    const std::string size = std::to_string(r.resizeTo ? large.size() : content.size());
    const std::string timeout("\0timeout\0001\0", 11);  // our first wait, to learn the server's timer
    EXPECT_EQ(request, r.stream ? plain : plain + std::string("tsize\0", 6) + size + timeout);
    peer.Reply(Ack(0));
    // While the writer is still there a block sent would end the file early.
    EXPECT_FALSE((r.local == fifoPath || r.input == fifoPath) && peer.Receive(300).has_value());
    ::close(fifo);  // the writer goes: the stream ends after the content
    std::string answer = peer.Receive(5000).value_or("");
    if (r.resizeTo) std::filesystem::resize_file(r.local, r.resizeTo);
    for (std::uint16_t block = 1; answer.size() == 516; ++block) {  // full blocks
      peer.Reply(Ack(block));
      answer = peer.Receive(5000).value_or("");
    }
    // A changed file's last block never goes out: an ERROR 0 in its place.
    EXPECT_EQ(r.resizeTo ? answer.substr(0, 4) : answer,
              r.resizeTo ? std::string("\0\5\0\0", 4) : Data(1, sent));
    if (!r.resizeTo) peer.Reply(Ack(1));
    EXPECT_EQ(child.Wait(10000), r.resizeTo ? 1 : 0) << child.Err();
    EXPECT_EQ(child.Err().find("changed while it was being sent") != std::string::npos, r.resizeTo != 0)
        << child.Err();
    // Whatever was left unread in the FIFO goes with its last descriptor.
  }
  std::filesystem::remove_all(folder);
}
#endif

}  // namespace
