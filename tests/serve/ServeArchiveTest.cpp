// serve --archive against real pushes from tarnwick-cli put: which uploads
// are taken (only an inventory device's address, only its name), what the
// archive makes of them (new, changed with history and a commit, refused
// with the saved copy kept), a push while a backup holds DEST, SIGHUP, and
// --git-push to a bare repository that is missing, then moved, then fixed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ServeProcess.h"

namespace {

using tarnwick::testing_support::ReadWhole;
using tarnwick::testing_support::ServeProcess;
using tarnwick::testing_support::WriteWhole;

const char kInventory[] =
    "name,host,port,remote,password,delimiter,push\n"
    "core-sw01,127.0.0.1,69,,,,yes\n"
    "edge-rt02,127.0.0.1,69,running-config,,,edge-*.conf\n"
    "far-sw03,127.0.0.2,69,,,,yes\n";

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen((command + " 2>&1").c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    ::pclose(p);
  }
  return out;
}

// DEST and the inventory in a folder of the test's, open to the server
// (which drops to nobody when the tests run as root).
struct PushSite {
  explicit PushSite(std::vector<std::string> extra = {}) {
    char folder[] = "/tmp/tarnwick-push-XXXXXX";
    if (::mkdtemp(folder)) here = folder;
    ::chmod(here.c_str(), 0777);
    dest = here + "/dest";
    WriteWhole(here + "/inv.csv", kInventory);
    for (std::string& option : extra)
      if (option == "@CENTRAL@") option = here + "/central.git";
    extra.insert(extra.begin(), {"--archive", dest, "--inventory", here + "/inv.csv", "--log-json"});
    server = std::make_unique<ServeProcess>(extra, false);
  }
  ~PushSite() { server.reset(), Shell("rm -rf '" + here + "'"); }

  // tarnwick-cli put's exit status.
  int Push(const std::string& remote, const std::string& bytes) {
    WriteWhole(here + "/push", bytes);
    const std::string command = "timeout -k 5 30 " + std::string(TARNWICK_CLI_PATH) + " put 127.0.0.1 " + here +
                                "/push " + remote + " --port " + std::to_string(server->Port()) +
                                " >/dev/null 2>&1 </dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // The archive's n-th record (from 1) whose line holds `text`, waited for
  // (bounded); empty when it never came.
  std::string Archived(const std::string& text, int n = 1) {
    for (int wait = 0; wait < 200; ++wait) {
      const std::string log = server->Log();
      int seen = 0;
      for (std::size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = log.substr(at, end - at);
        if (line.find("\"event\":\"archive\"") != std::string::npos && line.find(text) != std::string::npos &&
            ++seen == n)
          return line;
      }
      ::poll(nullptr, 0, 50);
    }
    return {};
  }
  std::string Git(const std::string& args, const std::string& repo = "") {
    return Shell("git -c safe.directory='*' -C " + (repo.empty() ? dest : repo) + " " + args);
  }

  std::string here, dest;
  std::unique_ptr<ServeProcess> server;
};

const std::string kConfig = "hostname core-sw01\n" + std::string(2000, '#') + "\ninterface ge-0/0/1\n";

TEST(ServeArchive, WhoMayPushAndWhatTheArchiveMakesOfIt) {
  PushSite site({"--git"});
  ASSERT_EQ(site.server->Unavailable(), "");
  // Refused before a byte is taken: ERROR 2, a line in the log, nothing stored.
  EXPECT_EQ(site.Push("other.cfg", kConfig), 1);
  EXPECT_EQ(site.Push("far-sw03.cfg", kConfig), 1);  // that device pushes from 127.0.0.2
  EXPECT_EQ(site.Push("edge-rt02.cfg", kConfig), 1);  // edge-rt02 may push edge-*.conf only
  const std::string log = site.server->Log();
  EXPECT_NE(log.find("not a name this address may push"), std::string::npos) << log;
  EXPECT_EQ(Shell("ls " + site.dest), "");

  ASSERT_EQ(site.Push("core-sw01.cfg", kConfig), 0);
  EXPECT_NE(site.Archived("\"result\":\"new\"").find("core-sw01"), std::string::npos) << site.server->Log();
  EXPECT_EQ(ReadWhole(site.dest + "/core-sw01.cfg"), kConfig);
  ASSERT_EQ(site.Push("/edge-7.conf", "edge config\n"), 0);  // the glob's name, stored under the device's
  EXPECT_NE(site.Archived("edge-rt02").find("\"result\":\"new\""), std::string::npos);
  EXPECT_EQ(ReadWhole(site.dest + "/edge-rt02.cfg"), "edge config\n");

  ASSERT_EQ(site.Push("core-sw01.cfg", kConfig + "vlan 20\n"), 0);
  const std::string changed = site.Archived("\"result\":\"changed\"");
  EXPECT_NE(changed.find("history/core-sw01/"), std::string::npos) << changed;
  EXPECT_EQ(site.Git("log -1 --format=%s"), "core-sw01: pushed from 127.0.0.1\n");
  EXPECT_EQ(site.Git("status --porcelain"), "");

  // An empty and a shrunken copy are refused; the saved copy stays.
  EXPECT_EQ(site.Push("core-sw01.cfg", ""), 0);
  EXPECT_NE(site.Archived("\"result\":\"refused\"", 1).find("0 bytes"), std::string::npos);
  EXPECT_EQ(site.Push("core-sw01.cfg", "hostname core-sw01\n"), 0);
  EXPECT_NE(site.Archived("\"result\":\"refused\"", 2).find("of the previous size"), std::string::npos);
  EXPECT_EQ(ReadWhole(site.dest + "/core-sw01.cfg"), kConfig + "vlan 20\n");
  // The state knows every push, refused or not, with its sender.
  const std::string state = ReadWhole(site.dest + "/.tarnwick.state");
  EXPECT_NE(state.find("\t127.0.0.1\n"), std::string::npos) << state;
  EXPECT_EQ(Shell("ls -A " + site.dest + "/.tarnwick-spool"), "");
}

TEST(ServeArchive, APushWhileABackupHoldsDestWaitsItsTurnAndSighupReloads) {
  PushSite site;
  ASSERT_EQ(site.server->Unavailable(), "");
  ASSERT_EQ(site.Push("core-sw01.cfg", kConfig), 0);
  ASSERT_NE(site.Archived("core-sw01"), "");
  // A backup run holds DEST: the push is taken and acknowledged all the
  // same, and waits in the spool until the lock is free.
  const int held = ::open((site.dest + "/.tarnwick.lock").c_str(), O_RDWR);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  ASSERT_EQ(site.Push("core-sw01.cfg", kConfig + "vlan 30\n"), 0);
  ::poll(nullptr, 0, 300);
  EXPECT_EQ(ReadWhole(site.dest + "/core-sw01.cfg"), kConfig);
  EXPECT_NE(Shell("ls " + site.dest + "/.tarnwick-spool"), "");
  ::close(held);
  EXPECT_NE(site.Archived("\"result\":\"changed\""), "") << site.server->Log();
  EXPECT_EQ(ReadWhole(site.dest + "/core-sw01.cfg"), kConfig + "vlan 30\n");

  // A device added to the inventory may push once the server is told.
  WriteWhole(site.here + "/inv.csv", std::string(kInventory) + "new-sw04,127.0.0.1,69,,,,new.cfg\n");
  EXPECT_EQ(site.Push("new.cfg", "new\n"), 1);
  site.server->Signal(SIGHUP);
  for (int wait = 0; wait < 100 && site.server->Said().find("inventory reloaded") == std::string::npos; ++wait)
    ::poll(nullptr, 0, 50);
  EXPECT_EQ(site.Push("new.cfg", "new\n"), 0);
  EXPECT_NE(site.Archived("new-sw04"), "");
}

TEST(ServeArchive, GitPushToABareRepositoryFailsThenHealsAndIsNeverForced) {
  PushSite site({"--git", "--git-branch", "site/east", "--git-push", "@CENTRAL@"});
  ASSERT_EQ(site.server->Unavailable(), "");
  const std::string central = site.here + "/central.git";
  auto tip = [&](const std::string& repo) { return site.Git("rev-parse -q --verify refs/heads/site/east", repo); };
  // No remote yet: the commit is kept here and the failure logged.
  ASSERT_EQ(site.Push("core-sw01.cfg", kConfig), 0);
  const std::string unreachable = site.Archived("\"result\":\"failed\"");
  EXPECT_NE(unreachable.find("kept here, but"), std::string::npos) << site.server->Log();
  EXPECT_NE(tip(site.dest), "");
  // The remote appears: the next commit's push takes both.
  Shell("git init -q --bare " + central + " && chown -R --reference=" + site.dest + " " + central);
  ASSERT_EQ(site.Push("core-sw01.cfg", kConfig + "vlan 40\n"), 0);
  ASSERT_NE(site.Archived("\"result\":\"committed\""), "") << site.server->Log();
  EXPECT_EQ(tip(central), tip(site.dest));
  EXPECT_EQ(site.Git("rev-list --count site/east", central), "2\n");
  // Someone else moved the remote branch: refused, never forced over.
  const std::string elsewhere = Shell("cd " + central + " && git -c safe.directory='*' -c user.name=x -c user.email=x@y "
                                    "commit-tree -m elsewhere $(git -c safe.directory='*' mktree </dev/null)");
  Shell("git -c safe.directory='*' -C " + central + " update-ref refs/heads/site/east " + elsewhere);
  ASSERT_EQ(site.Push("core-sw01.cfg", kConfig + "vlan 50\n"), 0);
  EXPECT_NE(site.Archived("\"result\":\"failed\"", 2), "") << site.server->Log();
  EXPECT_EQ(tip(central), elsewhere);
  EXPECT_NE(tip(site.dest), elsewhere);
  EXPECT_EQ(site.Git("fsck --no-progress >/dev/null 2>&1; echo $?"), "0\n");
}

}  // namespace
