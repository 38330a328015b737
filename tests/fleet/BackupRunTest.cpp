// Whole backup runs of tarnwick-cli against the fleet simulator and real
// tftpd-hpa devices: saved bytes, reasons, temporary files, history, git
// commits, interruption, and flat descriptors and memory over many
// transfers.
#include <fcntl.h>
#include <git2.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "../tftp/TftpdServer.h"
#include "FleetSimProcess.h"
#include "SimContent.h"
#include "archive/GitLibrary.h"
#include "archive/RunState.h"
#include "fleet/Backup.h"
#include "fleet/BackupReport.h"
#include "fleet/FetchStage.h"

namespace tarnwick::fleet_sim {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

class Scratch {
 public:
  Scratch() {
    path_ = fs::temp_directory_path() / ("tarnwick-fleet-" + std::to_string(std::random_device()()));
    fs::create_directories(path_);
  }
  ~Scratch() { fs::remove_all(path_); }
  const fs::path& Path() const { return path_; }
  std::string Str() const { return path_.string(); }

 private:
  fs::path path_;
};

// Every file under dir (relative, '/'), without the .git folder.
std::map<std::string, std::string> Tree(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
    if (it->path().filename() == ".git") {
      it.disable_recursion_pending();
      continue;
    }
    // The run's own bookkeeping, not the archive.
    if (it->path().filename() == ".tarnwick.lock" || it->path().filename() == ".tarnwick.state") continue;
    if (it->is_regular_file()) files[fs::relative(it->path(), dir).generic_string()] = ReadAll(it->path());
  }
  return files;
}

std::vector<std::string> TemporaryFiles(const fs::path& dir) {
  std::vector<std::string> found;
  for (auto& [name, bytes] : Tree(dir))
    if (name.find(".tarnwick-") != std::string::npos || name.find(".tmp") != std::string::npos)
      found.push_back(name);
  return found;
}

struct Commit {
  std::string message;
  std::set<std::string> paths;  // changed against its parent
};

// Commits from HEAD back, through libgit2.
std::vector<Commit> GitHistory(const fs::path& dir) {
  std::vector<Commit> commits;
  git_libgit2_init();
  git_repository* repo = nullptr;
  if (git_repository_open(&repo, dir.c_str()) == 0) {
    git_oid id;
    git_commit* commit = nullptr;
    if (git_reference_name_to_id(&id, repo, "HEAD") == 0 && git_commit_lookup(&commit, repo, &id) == 0) {
      while (commit) {
        Commit c;
        c.message = git_commit_message(commit);
        git_commit* parent = nullptr;
        git_tree *tree = nullptr, *parentTree = nullptr;
        git_commit_tree(&tree, commit);
        if (git_commit_parentcount(commit) > 0 && git_commit_parent(&parent, commit, 0) == 0)
          git_commit_tree(&parentTree, parent);
        git_diff* diff = nullptr;
        git_diff_tree_to_tree(&diff, repo, parentTree, tree, nullptr);
        for (std::size_t i = 0; diff && i < git_diff_num_deltas(diff); ++i)
          c.paths.insert(git_diff_get_delta(diff, i)->new_file.path);
        git_diff_free(diff);
        git_tree_free(tree);
        git_tree_free(parentTree);
        git_commit_free(commit);
        commits.push_back(c);
        commit = parent;
      }
    }
    git_repository_free(repo);
  }
  git_libgit2_shutdown();
  return commits;
}

std::string Cli(const std::string& args) { return std::string(TARNWICK_CLI_PATH) + " backup " + args; }

// 300 simulated devices: mostly good ones of every boundary size, and a few
// of each way a device goes wrong.
std::vector<SimDevice> MixedFleet() {
  std::vector<SimDevice> fleet;
  // (An empty answer is refused: BadAnswersNeverReplaceAGoodCopy.)
  const std::uint64_t sizes[] = {2, 1, 511, 512, 513, 1024, 4000, 20000, 65536, 70001};
  for (int i = 0; i < 300; ++i) {
    SimDevice d;
    d.name = "dev" + std::to_string(i);
    d.size = sizes[i % 10];
    d.password = i % 3 == 0 ? "" : "pw-s3cr3t-" + std::to_string(i);
    if (i % 7 == 1) d.extraCells = ",1428,,,";
    if (i % 7 == 2) d.extraCells = ",1024,4,,";
    if (i >= 240) {
      static const char* const kBad[] = {"badpass", "notfound", "silent", "slow", "lossy", "stray"};
      d.behaviour = kBad[(i - 240) / 10];
      d.size = 6000;
      if (d.behaviour == "lossy") d.extraCells = ",,,,8";  // losses need retries
    }
    fleet.push_back(d);
  }
  fleet[17].behaviour = "huge";
  fleet[17].size = 4u << 20;  // 8,193 blocks of 512
  fleet[17].extraCells = ",,,,";
  return fleet;
}

bool Good(const SimDevice& d) {
  return d.behaviour != "badpass" && d.behaviour != "notfound" && d.behaviour != "silent";
}

TEST(BackupRun, MixedFleetHistoryAndGit) {
  Scratch scratch;
  std::vector<SimDevice> fleet = MixedFleet();
  // Three real tftpd-hpa devices beside the simulated ones.
  testing_support::TftpdServer real[3];
  std::string realRows;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(real[i].Unavailable(), "");
    real[i].WriteFile("router.cfg", Content("real" + std::to_string(i), 1, 3000 + 512 * i));
    realRows += "real" + std::to_string(i) + ",127.0.0.1," + std::to_string(real[i].Port()) +
                ",router.cfg,,,,,,,,,\n";
  }
  const fs::path dest = scratch.Path() / "configs";
  const std::string inventory = scratch.Str() + "/inventory.csv";
  const std::string common =
      " --dest " + dest.string() + " --git --jobs 32 --timeout 300 --retries 1 --no-progress";

  auto runOnce = [&](std::vector<SimDevice>& devices, const std::string& report) {
    FleetSim sim(devices, scratch.Str());
    EXPECT_EQ(sim.Error(), "");
    WriteAll(inventory, InventoryFor(devices) + realRows);
    ::chmod(inventory.c_str(), 0600);
    ProcessResult r = RunCommand(Cli(inventory + common + " --report " + scratch.Str() + "/" + report));
    return std::make_pair(r, sim.Stop());
  };

  // First run: every good device saved byte for byte, every bad one with its reason.
  auto [first, stats] = runOnce(fleet, "first.json");
  EXPECT_EQ(first.status, 1) << first.output;
  const std::string json = ReadAll(scratch.Path() / "first.json");
  for (const SimDevice& d : fleet) {
    SCOPED_TRACE(d.name + " " + d.behaviour);
    const fs::path saved = dest / (d.name + ".cfg");
    if (Good(d)) {
      ASSERT_TRUE(fs::exists(saved)) << first.output;
      EXPECT_TRUE(ReadAll(saved) == Content(d.name, 1, d.size));
      EXPECT_EQ(stats[d.name].requests, 1u);
    } else {
      EXPECT_FALSE(fs::exists(saved));
    }
    if (!d.password.empty()) {
      EXPECT_EQ(first.output.find(d.password), std::string::npos);
      EXPECT_EQ(json.find(d.password), std::string::npos);
    }
    if (d.behaviour == "stray") {
      EXPECT_GE(stats[d.name].strayError5, 1u);
    }
    if (d.behaviour == "badpass") {
      EXPECT_NE(json.find("\"device\": \"" + d.name + "\", \"host\": \"" + d.address + ":" +
                          std::to_string(d.port) + "\", \"result\": \"failed\", \"bytes\": 0"),
                std::string::npos);
    }
  }
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(ReadAll(dest / ("real" + std::to_string(i) + ".cfg")),
              Content("real" + std::to_string(i), 1, 3000 + 512 * i));
  std::istringstream lines(first.output);
  std::map<std::string, std::string> summary;
  for (std::string line; std::getline(lines, line);)
    if (auto space = line.find(' '); space != std::string::npos) summary[line.substr(0, space)] = line;
  for (const SimDevice& d : fleet) {
    const std::string& line = summary[d.name];
    if (d.behaviour == "badpass") {
      EXPECT_NE(line.find("failed"), std::string::npos) << line;
    }
    if (d.behaviour == "badpass" && !d.password.empty()) {
      EXPECT_NE(line.find("ERROR 2: Access violation: wrong password in startup.cfg***"), std::string::npos)
          << line;
    }
    if (d.behaviour == "notfound") {
      EXPECT_NE(line.find("ERROR 1: File not found"), std::string::npos) << line;
    }
    if (d.behaviour == "silent") {
      EXPECT_NE(line.find("failed"), std::string::npos) << line;
    }
    if (Good(d)) {
      EXPECT_NE(line.find(" new "), std::string::npos) << line;  // a first copy is no change
    }
  }
  EXPECT_NE(first.output.find("303 devices: 273 new, 0 changed, 0 unchanged, 30 failed"), std::string::npos)
      << first.output;
  EXPECT_EQ(TemporaryFiles(dest), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(dest / "history"));
  std::vector<Commit> commits = GitHistory(dest);
  ASSERT_EQ(commits.size(), 1u);
  EXPECT_EQ(commits[0].paths.size(), 273u);
  EXPECT_NE(commits[0].message.find(": 273 devices new\n"), std::string::npos) << commits[0].message;

  // Second run, nothing changed: nothing written, no commit.
  const auto before = Tree(dest);
  auto [second, stats2] = runOnce(fleet, "second.csv");
  EXPECT_EQ(second.status, 1) << second.output;
  EXPECT_NE(second.output.find("303 devices: 0 changed, 273 unchanged, 30 failed"), std::string::npos)
      << second.output;
  EXPECT_TRUE(Tree(dest) == before);
  EXPECT_EQ(GitHistory(dest).size(), 1u);
  EXPECT_NE(ReadAll(scratch.Path() / "second.csv").find("\r\ndev0,"), std::string::npos);

  // Third run: ten devices changed; history and the commit name exactly them.
  std::set<std::string> changed, expectedPaths;
  for (int i = 5; i < 100; i += 10) {  // sizes of 1024 bytes
    fleet[static_cast<std::size_t>(i)].version = 2;
    changed.insert(fleet[static_cast<std::size_t>(i)].name);
  }
  auto [third, stats3] = runOnce(fleet, "third.json");
  EXPECT_NE(third.output.find("303 devices: 10 changed, 263 unchanged, 30 failed"), std::string::npos)
      << third.output;
  std::set<std::string> historyOwners;
  for (auto& [path, bytes] : Tree(dest)) {
    if (path.rfind("history/", 0) != 0) continue;
    const std::string owner = path.substr(8, path.find('/', 8) - 8);
    historyOwners.insert(owner);
    EXPECT_TRUE(bytes == Content(owner, 1, fleet[std::stoul(owner.substr(3))].size)) << path;
    EXPECT_EQ(path.size(), std::string("history/" + owner + "/20261208T013000Z.cfg").size()) << path;
    expectedPaths.insert(path);
  }
  EXPECT_EQ(historyOwners, changed);
  for (const std::string& name : changed) {
    EXPECT_TRUE(ReadAll(dest / (name + ".cfg")) == Content(name, 2, fleet[std::stoul(name.substr(3))].size));
    expectedPaths.insert(name + ".cfg");
  }
  commits = GitHistory(dest);
  ASSERT_EQ(commits.size(), 2u);
  EXPECT_EQ(commits[0].paths, expectedPaths);
  for (const std::string& name : changed) {
    EXPECT_NE(commits[0].message.find("\n" + name + "\n"), std::string::npos);
  }
  EXPECT_NE(commits[0].message.find("10 devices changed"), std::string::npos) << commits[0].message;
  for (const SimDevice& d : fleet)
    if (!d.password.empty()) {
      EXPECT_EQ(commits[0].message.find(d.password), std::string::npos);
    }
  EXPECT_EQ(TemporaryFiles(dest), std::vector<std::string>{});
}

TEST(BackupRun, FaultyRowFailsItsDeviceOnly) {
  Scratch scratch;
  std::vector<SimDevice> fleet(2);
  fleet[0].name = "fine";
  fleet[1].name = "other";
  FleetSim sim(fleet, scratch.Str());
  ASSERT_EQ(sim.Error(), "");
  std::string text = InventoryFor(fleet);
  text += "../x,127.0.0.1,69,startup.cfg,,,,,,,,,\n";
  WriteAll(scratch.Path() / "inv.csv", text);
  // The inventory may come from a pipe.
  ProcessResult r =
      RunCommand("cat " + scratch.Str() + "/inv.csv | " + Cli("- --dest " + scratch.Str() + "/out"));
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("-:5: the device name holds '/'"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("3 devices: 2 new, 0 changed, 0 unchanged, 1 failed"), std::string::npos)
      << r.output;
  auto stats = sim.Stop();
  EXPECT_EQ(stats["fine"].requests + stats["other"].requests, 2u);
  EXPECT_TRUE(fs::exists(scratch.Path() / "out" / "fine.cfg"));
}

// Each row is one way a device answers badly, after a first run saved its
// good copy: the copy stays, the device fails with the reason, nothing
// reaches the history. A changing device is the control: it is saved.
TEST(BackupRun, BadAnswersNeverReplaceAGoodCopy) {
  Scratch scratch;
  struct Row {
    std::string behaviour;
    std::uint64_t size;
    std::string cells;
    std::string says;  // empty: saved as changed
  } rows[] = {
      {"empty", 1000, "", "refused: 0 bytes"},
      {"errorpage", 4000, "", "refused: 2% of the previous size"},
      {"errorpage", 4000, ",,,,,,0,^[^<]{60}", "refused: does not match the expected pattern"},
      {"truncated", 3000, "", "received 1500 bytes, the server announced 3000"},
      {"endless", 1000, "", "more than 100000 bytes (--max-bytes)"},
      {"trickle", 20000, "", "no complete file within the deadline of 2 s (--deadline)"},
      {"changing", 5000, "", ""},
  };
  std::vector<SimDevice> fleet;
  for (const Row& row : rows) {
    SimDevice d;
    d.name = "d" + std::to_string(fleet.size());
    d.size = row.size;
    d.extraCells = row.cells.empty() ? ",,,," : row.cells;
    fleet.push_back(d);
  }
  const fs::path dest = scratch.Path() / "out";
  const std::string inventory = scratch.Str() + "/inv.csv";
  auto run = [&] {
    FleetSim sim(fleet, scratch.Str());
    EXPECT_EQ(sim.Error(), "");
    WriteAll(inventory, InventoryFor(fleet));
    return RunCommand(Cli(inventory + " --dest " + dest.string() + " --max-bytes 100000 --deadline 2"));
  };
  ProcessResult first = run();
  ASSERT_EQ(first.status, 0) << first.output;
  for (std::size_t i = 0; i < fleet.size(); ++i) fleet[i].behaviour = rows[i].behaviour;
  ProcessResult second = run();
  EXPECT_EQ(second.status, 1) << second.output;
  for (std::size_t i = 0; i < fleet.size(); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.behaviour + " " + row.says);
    const std::size_t at = second.output.find("\n" + fleet[i].name + " ");
    ASSERT_NE(at, std::string::npos) << second.output;
    const std::string line = second.output.substr(at + 1, second.output.find('\n', at + 1) - at - 1);
    if (row.says.empty()) {
      EXPECT_NE(line.find("changed"), std::string::npos) << line;
      EXPECT_TRUE(ReadAll(dest / (fleet[i].name + ".cfg")) == Content(fleet[i].name, 2, row.size));
      EXPECT_TRUE(fs::exists(dest / "history" / fleet[i].name));
    } else {
      EXPECT_NE(line.find("failed"), std::string::npos) << line;
      EXPECT_NE(line.find(row.says), std::string::npos) << line;
      EXPECT_TRUE(ReadAll(dest / (fleet[i].name + ".cfg")) == Content(fleet[i].name, 1, row.size));
      EXPECT_FALSE(fs::exists(dest / "history" / fleet[i].name));
    }
  }
  EXPECT_EQ(TemporaryFiles(dest), std::vector<std::string>{});
}

// --git after the ways an archive goes wrong; each row starts from a saved,
// committed store. The archive failing is exit 3 whatever the devices did,
// the configurations are saved anyway, and the next run heals the archive.
TEST(BackupRun, ArchiveFailuresAndHealing) {
  struct Row {
    std::string what;
    std::string before;  // shell commands in DEST before the run
    int status;
    std::string says;
    std::string options;  // more options for the run under test
  } rows[] = {
      {"a locked branch fails the commit", "touch .git/refs/heads/$(git symbolic-ref --short HEAD).lock", 3,
       "cannot commit", ""},
      {"a detached HEAD is refused", "git checkout -q --detach", 3, "HEAD is detached", ""},
      {"--check sees a detached HEAD", "git checkout -q --detach", 3, "HEAD is detached", "--check"},
      {"--check takes a detached HEAD with --git-branch", "git checkout -q --detach", 0,
       "commits go onto branch nightly/archive", "--check --git-branch nightly/archive"},
      {"--git-branch commits onto its branch, made from HEAD, whatever is checked out",
       "git checkout -q --detach", 0, "commit ", "--git-branch nightly/archive"},
      {"a person's staged work is left alone", "echo notes > notes.txt && git add notes.txt", 0, "commit ",
       ""},
      {"a state file that cannot be written is what the archive's failure names",
       "rm .tarnwick.state && mkdir -p .tarnwick.state/x", 3,
       "not committed: the state file could not be written", ""},
      {"a broken repository fails the archive only", "rm -rf .git/objects && mkdir .git/objects", 3,
       "the archive failed", ""},
      {"odd entries under history/ are left out, never the end of the run",
       "mkdir -p history/odd && ln -s loop history/odd/loop && ln -s /etc/hostname history/odd/outside", 0,
       "commit ", ""},
      {"a second run on a held DEST is refused", "true", 3,
       "is in use by another backup run (pid 4242, started 2026-12-08T01:30:00Z)", ""},
      {"DEST held by serve storing pushes: the night waits its turn", "true", 0,
       "is held by serve pid 4243, storing pushes; waiting for its turn", ""},
      {"--git-push sends a site's branch to a bare repository", "git init -q --bare ../central.git", 0,
       "pushed to ", "--git-branch site/east --git-push @CENTRAL@"},
      {"a rejected push (the remote branch moved) is reported, never forced, and heals",
       "git init -q --bare ../central.git && cd ../central.git && git update-ref refs/heads/site/east "
       "$(git -c user.name=x -c user.email=x@y commit-tree -m elsewhere $(git mktree </dev/null))",
       3, "push of site/east to ", "--git-branch site/east --git-push @CENTRAL@"},
      {"an unreachable remote is reported and heals", "true", 3, "push of site/east to ",
       "--git-branch site/east --git-push @CENTRAL@"},
      {"a team's DEST (0755): the repository is never others'; one opened to them is warned about",
       "chmod -R o+rX .git", 0,
       "/.git can be read by other users, and every configuration through it: chmod -R o-rwx ", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Scratch scratch;
    std::vector<SimDevice> fleet(2);
    fleet[0].name = "sw1";
    fleet[1].name = "sw2";
    const fs::path dest = scratch.Path() / "out";
    const std::string inventory = scratch.Str() + "/inv.csv";
    std::string options;
    auto run = [&](const std::function<void(const std::string&)>& seen = {}) {
      FleetSim sim(fleet, scratch.Str());
      EXPECT_EQ(sim.Error(), "");
      WriteAll(inventory, InventoryFor(fleet));
      return RunCommand(Cli(inventory + " --dest " + dest.string() + " --git --report " + scratch.Str() +
                            "/report.json " + options),
                        seen);
    };
    if (row.what.find("team") != std::string::npos) {
      fs::create_directories(dest);
      fs::permissions(dest, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    }
    ASSERT_EQ(run().status, 0);
    // Nothing under .git is others' (git objects are made 0444 less the umask).
    for (const auto& e : fs::recursive_directory_iterator(dest / ".git"))
      ASSERT_EQ(e.symlink_status().permissions() & fs::perms::others_all, fs::perms::none) << e.path();
    EXPECT_NE(RunCommand("git -C " + dest.string() + " config core.sharedRepository").output.find("06"),
              std::string::npos);
    fleet[0].version = 2;  // a change for the run under test
    ASSERT_EQ(RunCommand("cd " + dest.string() + " && " + row.before).status, 0);
    if (row.what.find("held") != std::string::npos) {
      int held = ::open((dest / ".tarnwick.lock").c_str(), O_RDWR | O_CLOEXEC);  // children must not hold it
      ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
      ASSERT_EQ(::ftruncate(held, 0), 0);
      const std::string holder =
          row.status ? "pid 4242, started 2026-12-08T01:30:00Z\n" : "serve pid 4243, storing pushes\n";
      ASSERT_EQ(::write(held, holder.data(), holder.size()), static_cast<ssize_t>(holder.size()));
      // The holder lets go once the run says it waits: one refused at once
      // never gets DEST, one that waits does.
      ProcessResult r = run([&held](const std::string& output) {
        if (held >= 0 && output.find("waiting for its turn") != std::string::npos) held = (::close(held), -1);
      });
      if (held >= 0) ::close(held);
      EXPECT_EQ(r.status, row.status) << r.output;
      EXPECT_NE(r.output.find(row.says), std::string::npos) << r.output;
      EXPECT_TRUE(ReadAll(dest / "sw1.cfg") ==
                  Content("sw1", row.status ? 1 : 2, 1000));  // fetched once let in
      continue;
    }
    const std::string central = scratch.Str() + "/central.git";
    options = row.options;
    if (const std::size_t at = options.find("@CENTRAL@"); at != std::string::npos)
      options.replace(at, 9, central);
    ProcessResult r = run();
    EXPECT_EQ(r.status, row.status) << r.output;
    EXPECT_NE(r.output.find(row.says), std::string::npos) << r.output;
    if (row.options.find("--git-push") != std::string::npos) {
      auto tip = [](const std::string& repo) {
        return RunCommand("git -C " + repo + " rev-parse -q --verify refs/heads/site/east").output;
      };
      const std::string local = tip(dest.string()), before = tip(central);
      // The commit stands whatever became of the push; a refused one left
      // the remote as it was.
      EXPECT_EQ(RunCommand("git -C " + dest.string() + " rev-list --count site/east").output, "2\n");
      EXPECT_EQ(before == local, row.status == 0) << r.output;
      if (row.what.find("rejected") != std::string::npos) {
        EXPECT_EQ(RunCommand("git -C " + central + " log -1 --format=%s site/east").output, "elsewhere\n");
      }
      if (row.status == 0) continue;
      // The cause goes away; the next run, with nothing new to commit,
      // pushes what the failed push left.
      ASSERT_EQ(RunCommand(row.what.find("rejected") != std::string::npos
                               ? "git -C " + central + " update-ref -d refs/heads/site/east"
                               : "git init -q --bare " + central)
                    .status,
                0);
      ProcessResult healed = run();
      EXPECT_EQ(healed.status, 0) << healed.output;
      EXPECT_EQ(tip(central), local) << healed.output;
      continue;
    }
    if (!row.options.empty()) {
      // --check fetched nothing; --git-branch left HEAD where it was.
      const std::string log =
          RunCommand("git -C " + dest.string() + " log --format=%s nightly/archive").output;
      if (row.options.rfind("--check", 0) == 0) {
        EXPECT_TRUE(ReadAll(dest / "sw1.cfg") == Content("sw1", 1, 1000));
      } else {
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
        EXPECT_EQ(GitHistory(dest).size(), 1u);  // HEAD, still detached on the first commit
      }
      continue;
    }
    EXPECT_TRUE(ReadAll(dest / "sw1.cfg") == Content("sw1", 2, 1000));
    const std::string report = ReadAll(scratch.Path() / "report.json");
    EXPECT_NE(
        report.find(row.status == 3 ? "\"archive\": {\"result\": \"failed\"" : "\"result\": \"committed\""),
        std::string::npos)
        << report;
    if (row.status == 0) {
      std::vector<Commit> commits = GitHistory(dest);
      ASSERT_EQ(commits.size(), 2u);
      // The new copy and its history copy; never what a person staged, never
      // a link.
      EXPECT_EQ(commits[0].paths.size(), 2u);
      EXPECT_EQ(commits[0].paths.count("sw1.cfg"), 1u);
      if (row.what.find("staged") != std::string::npos) {
        ProcessResult status = RunCommand("cd " + dest.string() + " && git status --porcelain");
        EXPECT_EQ(status.output, "A  notes.txt\n");  // our own files are excluded
      }
      continue;
    }
    // The cause goes away; the next run commits the store as it stands,
    // although no device changed since.
    RunCommand("cd " + dest.string() +
               " && rm -f .git/refs/heads/*.lock && (test -f .tarnwick.state || rm -rf .tarnwick.state) && "
               "(git checkout -q - 2>/dev/null; true)");
    if (row.what.find("broken") != std::string::npos) continue;
    const std::size_t before = GitHistory(dest).size();
    ProcessResult healed = run();
    EXPECT_EQ(healed.status, 0) << healed.output;
    EXPECT_EQ(GitHistory(dest).size(), before + 1);
    std::vector<Commit> commits = GitHistory(dest);
    ASSERT_FALSE(commits.empty());
    EXPECT_EQ(commits[0].paths.count("sw1.cfg"), 1u);
  }
}

// The driver never waits for a name: a lookup that never returns fails its
// own device after the name limit, while every other device (a literal
// address, a name that resolves) is fetched meanwhile.
TEST(FetchStage, ADeadNameDelaysNobody) {
  Scratch scratch;
  std::vector<SimDevice> fleet(6);
  for (std::size_t i = 0; i < fleet.size(); ++i) fleet[i].name = "s" + std::to_string(i);
  FleetSim sim(fleet, scratch.Str());
  ASSERT_EQ(sim.Error(), "");
  const std::string inventory = InventoryFor(fleet) + "dead,dead.invalid,69,startup.cfg,,,,,,,,,\n" +
                                "named,s0.sim.test," + std::to_string(fleet[0].port) +
                                ",startup.cfg,,,,,,,,,\n";
  fleet::Inventory parsed = fleet::ParseInventory(inventory, {});
  ASSERT_TRUE(parsed.usable && parsed.errors.empty());
  std::vector<std::size_t> order(parsed.devices.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  // "dead" first, so everything else queues behind it if anything waits.
  std::rotate(order.begin(), order.end() - 2, order.end() - 1);

  struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
  };
  auto gate = std::make_shared<Gate>();
  fleet::LookupFunction lookup = [gate, &fleet](const std::string& host, const std::string& port,
                                                std::string& error) -> std::optional<SocketAddress> {
    if (host == "s0.sim.test") return fleet::LiteralAddress(fleet[0].address, port);
    std::unique_lock<std::mutex> hold(gate->mutex);
    gate->opened.wait(hold, [&] { return gate->open; });
    error = "released";
    return std::nullopt;
  };
  archive::DestOpening opening;
  auto store = archive::ConfigStore::Open(scratch.Str() + "/out", "pid 1\n", opening);
  ASSERT_TRUE(store) << opening.error;
  fleet::FetchLimits limits;
  limits.jobs = 2;
  limits.resolveLimit = std::chrono::seconds(1);
  std::vector<std::string> finished;
  std::map<std::string, std::string> errors;
  fleet::RunFetchStage(parsed.devices, order, limits, *store, lookup, {},
                       [&](std::size_t i, fleet::Fetched& f) {
                         finished.push_back(parsed.devices[i].name);
                         errors[parsed.devices[i].name] = f.complete ? "" : f.error;
                       });
  {
    std::lock_guard<std::mutex> hold(gate->mutex);
    gate->open = true;
  }
  gate->opened.notify_all();
  ASSERT_EQ(finished.size(), parsed.devices.size());
  EXPECT_EQ(finished.back(), "dead");
  EXPECT_EQ(errors["dead"], "cannot resolve dead.invalid: no answer from the name service within 1 s");
  for (const auto& [name, error] : errors)
    if (name != "dead") {
      EXPECT_EQ(error, "") << name;
    }
}

// The report is written whole under a name nobody can plant beforehand; a
// link at its old temporary name or at the report's own name is never
// written through.
TEST(BackupRun, ReportIsNeverWrittenThroughALink) {
  Scratch scratch;
  std::vector<SimDevice> fleet(1);
  fleet[0].name = "one";
  FleetSim sim(fleet, scratch.Str());
  ASSERT_EQ(sim.Error(), "");
  WriteAll(scratch.Path() / "inv.csv", InventoryFor(fleet));
  WriteAll(scratch.Path() / "victim", "keep");
  for (const char* planted : {"report.json.tmp", "report.json"}) {
    SCOPED_TRACE(planted);
    fs::remove(scratch.Path() / "report.json");
    fs::create_symlink(scratch.Path() / "victim", scratch.Path() / planted);
    ProcessResult r = RunCommand(Cli(scratch.Str() + "/inv.csv --dest " + scratch.Str() + "/out --report " +
                                     scratch.Str() + "/report.json"));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(ReadAll(scratch.Path() / "victim"), "keep");
    EXPECT_FALSE(fs::is_symlink(scratch.Path() / "report.json"));
    EXPECT_NE(ReadAll(scratch.Path() / "report.json").find("\"device\": \"one\""), std::string::npos);
    fs::remove(scratch.Path() / planted);
  }
}

TEST(BackupRun, GitWithoutLibgit2IsAUsageErrorBeforeAnyTransfer) {
  Scratch scratch;
  std::vector<SimDevice> fleet(1);
  fleet[0].name = "one";
  FleetSim sim(fleet, scratch.Str());
  ASSERT_EQ(sim.Error(), "");
  WriteAll(scratch.Path() / "inv.csv", InventoryFor(fleet));
  const std::vector<std::string> args = {scratch.Str() + "/inv.csv", "--dest", scratch.Str() + "/out",
                                         "--git"};
  struct Row {
    std::vector<std::string> names;
    std::string message;
  } rows[] = {
      {{"libgit2-absent.so.1.5", "libgit2-absent.so.1.9"},
       "--git needs libgit2 (libgit2-absent.so.1.5 not found)"},
      // A library that loads but is not libgit2.
      {{"libgit2-absent.so.1.5", "libc.so.6"}, "--git needs libgit2 (libc.so.6 has no git_libgit2_init)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    archive::SetGitLibraryNames(row.names);
    std::ostringstream out, err;
    EXPECT_EQ(fleet::RunBackup(args, out, err), 2);
    EXPECT_NE(err.str().find("tarnwick-cli backup: " + row.message + "\n"), std::string::npos) << err.str();
  }
  archive::SetGitLibraryNames({});
  EXPECT_FALSE(fs::exists(scratch.Path() / "out" / "one.cfg"));
  EXPECT_EQ(sim.Stop()["one"].requests, 0u);
}

TEST(BackupRun, ReadableInventoryWithPasswordsIsWarnedAbout) {
  Scratch scratch;
  std::vector<SimDevice> fleet(1);
  fleet[0].name = "one";
  fleet[0].password = "topsecret";
  FleetSim sim(fleet, scratch.Str());
  ASSERT_EQ(sim.Error(), "");
  const std::string inv = scratch.Str() + "/inv.csv";
  WriteAll(inv, InventoryFor(fleet));
  ::chmod(inv.c_str(), 0644);
  ProcessResult r = RunCommand(Cli(inv + " --dest " + scratch.Str() + "/out"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("other users may read it"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("topsecret"), std::string::npos);
  ::chmod(inv.c_str(), 0600);
  r = RunCommand(Cli(inv + " --dest " + scratch.Str() + "/out"));
  EXPECT_EQ(r.output.find("other users may read it"), std::string::npos) << r.output;
}

TEST(BackupRun, TerminatedRunLeavesNoPartialFileAndNamesWhatWasNotReached) {
  Scratch scratch;
  std::vector<SimDevice> fleet(40);
  for (std::size_t i = 0; i < fleet.size(); ++i) {
    fleet[i].name = "slow" + std::to_string(i);
    fleet[i].behaviour = "slow";
    fleet[i].size = 40000;  // about 1.6 s each at 20 ms a block
  }
  FleetSim sim(fleet, scratch.Str());
  ASSERT_EQ(sim.Error(), "");
  WriteAll(scratch.Path() / "inv.csv", InventoryFor(fleet));
  const fs::path dest = scratch.Path() / "out";
  const std::string log = scratch.Str() + "/log.txt";
  pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen(log.c_str(), "w", stderr);
    ::execl(TARNWICK_CLI_PATH, TARNWICK_CLI_PATH, "backup", (scratch.Str() + "/inv.csv").c_str(), "--dest",
            dest.c_str(), "--jobs", "4", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Wait until transfers are running (temporary files exist), then stop.
  for (int i = 0; i < 100 && TemporaryFiles(fs::exists(dest) ? dest : scratch.Path()).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(TemporaryFiles(dest).empty());
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::string output = ReadAll(log);
  EXPECT_NE(output.find("interrupted"), std::string::npos) << output;
  EXPECT_NE(output.find("not reached"), std::string::npos) << output;
  EXPECT_EQ(TemporaryFiles(dest), std::vector<std::string>{});
  for (auto& [path, bytes] : Tree(dest)) {
    const std::string name = path.substr(0, path.size() - 4);
    EXPECT_TRUE(bytes == Content(name, 1, 40000)) << path;  // only complete copies
  }
}

// /proc/self/fd entries and resident memory of this process.
std::size_t OpenDescriptors() {
  std::size_t n = 0;
  for ([[maybe_unused]] auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// Memory the process holds. Under AddressSanitizer freed blocks sit in its
// quarantine and resident memory grows by design, so there the allocator's
// own count of live bytes stands in.
#ifdef __SANITIZE_ADDRESS__
// From the sanitizer runtime's public interface (gcc ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

long MemoryHeldKiB() {
#ifdef __SANITIZE_ADDRESS__
  return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
#endif
}

TEST(BackupRun, DescriptorsAndMemoryStayFlatOverTwoThousandTransfers) {
  Scratch scratch;
  std::vector<SimDevice> fleet(2000);
  for (std::size_t i = 0; i < fleet.size(); ++i) {
    fleet[i].name = "n" + std::to_string(i);
    fleet[i].size = 700 + i % 600;
  }
  FleetSim sim(fleet, scratch.Str());
  ASSERT_EQ(sim.Error(), "");
  WriteAll(scratch.Path() / "inv.csv", InventoryFor(fleet));
  const std::vector<std::string> args = {
      scratch.Str() + "/inv.csv", "--dest", scratch.Str() + "/out", "--jobs", "64", "--no-progress"};
  std::ostringstream out, err;
  ASSERT_EQ(fleet::RunBackup(args, out, err), 0) << err.str().substr(0, 4000);
  const std::size_t fds = OpenDescriptors();
  const long rss = MemoryHeldKiB();
  std::ostringstream err2;
  ASSERT_EQ(fleet::RunBackup(args, out, err2), 0) << err2.str().substr(0, 4000);
  EXPECT_NE(err2.str().find("2000 devices: 0 changed, 2000 unchanged, 0 failed"), std::string::npos);
  EXPECT_EQ(OpenDescriptors(), fds);
  EXPECT_LT(MemoryHeldKiB() - rss, 4096) << "KiB grown over 2,000 more transfers";
  EXPECT_EQ(sim.Stop()["n1999"].done, 2u);
}

// A week of nights on one DEST, a row a night: each row changes the fleet,
// runs with its options at its (injected) time and checks what the night
// must show. The simulator restarts every night, so its counts are the
// night's own; "flaky" is silent to its first request of every night.
TEST(BackupRun, NightlyRunTable) {
  Scratch scratch;
  const fs::path dest = scratch.Path() / "out";
  const std::string inventory = scratch.Str() + "/inv.csv", ignoreFile = scratch.Str() + "/ignore.txt";
  WriteAll(ignoreFile, "# Cisco IOS\n[ios]\n^! Last configuration change at\n");
  std::vector<SimDevice> fleet(4);
  const char* const names[] = {"steady", "stamped", "flaky", "off"};
  // Every row has the ignore and enabled columns the header adds below.
  const char* const cells[] = {",,,,,,,,,,", ",,,,,,,,ios,,", ",,,,,,,,,,", ",,,,,,,,,no,"};
  for (int i = 0; i < 4; ++i) fleet[i].name = names[i], fleet[i].extraCells = cells[i];
  fleet[1].behaviour = "stamped";
  fleet[2].behaviour = "flaky";
  fleet[0].password = "pw-h00k-s3cret";
  const std::int64_t t0 = 1796000000;  // 2026-11-30
  constexpr int kKilled = -2;          // the run ended itself with SIGKILL
  SimDevice dead;                      // first in the inventory, failing seconds after the others are done
  dead.name = "dead";
  dead.behaviour = "silent";
  dead.extraCells = ",,,1000,1,,,,,,";
  std::string pushOnlyRow;  // a device that uploads its own configuration: no simulator, never fetched
  struct Row {
    std::string what;
    std::function<void()> change;  // to the fleet, before the night
    std::int64_t hours;            // after t0
    std::string options;
    int status;
    std::vector<std::string> says;  // in the output, in order
    std::function<void(const std::string&, std::map<std::string, SimStats>&)> check;
  } rows[] = {
      {"the first night killed when dead fails (after flaky's round 1), the good devices stored long before",
       [&] {
         ::setenv("TARNWICK_TEST_KILL_AT", "failed:2", 1);
         fleet.insert(fleet.begin(), dead);
       },
       0,
       "",
       kKilled,
       {},
       [&](const std::string& output, std::map<std::string, SimStats>&) {
         EXPECT_TRUE(fs::exists(dest / "steady.cfg") && !fs::exists(dest / ".tarnwick.state")) << output;
         ::unsetenv("TARNWICK_TEST_KILL_AT");
         fleet.erase(fleet.begin());
       }},
      {"first night: a device down in round 1 rescued, a disabled one left alone, a push-only one listed",
       [&] { pushOnlyRow = "branch,127.0.0.1,9,,,/,,,,,,,,,,yes\n"; },
       0,
       "--report " + scratch.Str() + "/first.json --report " + scratch.Str() + "/first.html" +
           " --on-change 'sh -c \"echo $TARNWICK_DEVICE >> " + scratch.Str() + "/changed.txt\"'",
       0,
       {"flaky", "new", "off", "disabled", "\nbranch ", "not pushed", "no device stale"},
       [&](const std::string&, std::map<std::string, SimStats>& stats) {
         EXPECT_EQ(stats["flaky"].requests, 2u);
         EXPECT_EQ(stats["off"].requests, 0u);
         EXPECT_FALSE(fs::exists(dest / "off.cfg"));
         EXPECT_NE(ReadAll(scratch.Path() / "first.html").find(">flaky<"), std::string::npos);
         // What the killed night stored is announced now.
         EXPECT_NE(ReadAll(scratch.Path() / "first.json")
                       .find("\"device\": \"steady\", \"host\": \"" + fleet[0].address + ":" +
                             std::to_string(fleet[0].port) + "\", \"result\": \"new\""),
                   std::string::npos);
         EXPECT_NE(ReadAll(scratch.Path() / "first.json").find("\"device\": \"flaky\""), std::string::npos);
       }},
      {"a quiet good night, the volatile line ignored",
       [] {},
       1,
       "--quiet",
       0,
       {},
       [&](const std::string& output, std::map<std::string, SimStats>& stats) {
         EXPECT_EQ(output, "");
         EXPECT_EQ(stats["stamped"].done, 1u);
         EXPECT_FALSE(fs::exists(dest / "history" / "stamped"));
       }},
      {"a real change kept byte for byte, and its diff",
       [&] { fleet[0].version = fleet[1].version = 2; },
       2,
       "--diff --report " + scratch.Str() + "/diff.json",
       0,
       {"steady", "changed", "--- a/steady\n+++ b/steady\n@@ -1,", "--- a/stamped"},
       [&](const std::string& output, std::map<std::string, SimStats>&) {
         const std::string saved = ReadAll(dest / "stamped.cfg");
         EXPECT_EQ(saved.substr(0, 35), "! Last configuration change at run ");
         EXPECT_TRUE(saved.substr(64) == Content("stamped", 2, 1000).substr(64));
         EXPECT_TRUE(fs::exists(dest / "history" / "stamped"));
         EXPECT_EQ(output.find("pw-h00k-s3cret"), std::string::npos);
         EXPECT_NE(ReadAll(scratch.Path() / "diff.json").find("\"diff\": \"--- a/steady"), std::string::npos);
       }},
      {"--keep 1 leaves one history copy",
       [&] { fleet[0].version = 3; },
       3,
       "--keep 1",
       0,
       {"steady"},
       [&](const std::string&, std::map<std::string, SimStats>&) {
         std::size_t copies = 0;
         for (auto& e : fs::directory_iterator(dest / "history" / "steady")) copies += e.is_regular_file();
         EXPECT_EQ(copies, 1u);
       }},
      {"--check fetches nothing",
       [] {},
       4,
       "--check",
       0,
       {"steady", "would fetch startup.cfg", "dest "},
       [&](const std::string&, std::map<std::string, SimStats>& stats) {
         for (auto& [name, s] : stats) EXPECT_EQ(s.requests, 0u) << name;
       }},
      {"stale after the clock jumps two days, --only; the push-only one since first listed",
       [] {},
       3 + 49,
       "--only 'fla*'",
       1,
       {"flaky", "3 devices stale, the oldest since " + archive::UtcMinuteText(t0)},
       [&](const std::string& output, std::map<std::string, SimStats>& stats) {
         EXPECT_EQ(stats["steady"].requests, 0u);
         EXPECT_EQ(output.find("\nsteady "), std::string::npos);
       }},
      {"hooks: a failure's environment, a hook that hangs",
       [&] { fleet[0].behaviour = "badpass"; },
       53,
       "--report " + scratch.Str() + "/failed.json --on-failure 'sh -c \"env > " + scratch.Str() +
           "/hook.env\"' --on-done 'sleep 30' --hook-timeout 1",
       1,
       {"steady", "failed", "hook failed: --on-done hook: timed out after 1 s"},
       [&](const std::string&, std::map<std::string, SimStats>&) {
         const std::string env = ReadAll(scratch.Path() / "hook.env");
         EXPECT_NE(env.find("TARNWICK_DEVICE=steady\n"), std::string::npos) << env;
         EXPECT_NE(env.find("TARNWICK_RESULT=failed\n"), std::string::npos) << env;
         EXPECT_EQ(env.find("pw-h00k-s3cret"), std::string::npos) << env;
       }},
      {"--retry-failed runs what failed (serve took a push meanwhile)",
       [&] {
         fleet[0].behaviour = "good";
         archive::ParsedRunState parsed = archive::ParseRunState(ReadAll(dest / ".tarnwick.state"));
         archive::RecordPush(parsed.state, "branch", t0 + 53 * 3600, true, true, "", "127.0.0.9");
         WriteAll(dest / ".tarnwick.state", archive::SerializeRunState(parsed.state));
       },
       54,
       "--retry-failed " + scratch.Str() + "/failed.json",
       0,
       {"steady", "unchanged"},
       [&](const std::string&, std::map<std::string, SimStats>& stats) {
         EXPECT_EQ(stats["steady"].requests, 1u);
         EXPECT_EQ(stats["stamped"].requests + stats["flaky"].requests, 0u);
       }},
      {"a rule that does not compile is a usage error naming it",
       [] {},
       55,
       "--ignore 'a(b'",
       2,
       {"a(b"},
       [](const std::string&, std::map<std::string, SimStats>& stats) {
         EXPECT_EQ(stats["steady"].requests, 0u);
       }},
      {"a device gone from the inventory is listed, --prune keeps its copy in its history",
       [&] { fleet.erase(fleet.begin() + 2); },
       56,
       "--prune",
       0,
       {"\nbranch ", "pushed", "last push " + archive::UtcMinuteText(t0 + 53 * 3600) + " from 127.0.0.9",
        "gone from the inventory: flaky (its copy moved into its history)"},
       [&](const std::string&, std::map<std::string, SimStats>&) {
         EXPECT_FALSE(fs::exists(dest / "flaky.cfg"));
         EXPECT_TRUE(fs::exists(dest / "history" / "flaky"));
       }},
      {"killed at its first failure: the change that finished before it is already in place",
       [&] {
         ::setenv("TARNWICK_TEST_KILL_AT", "failed:1", 1);
         fleet[0].version = 4;
         fleet.insert(fleet.begin(), dead);
       },
       57,
       "--metrics " + scratch.Str() + "/backup.prom",
       kKilled,
       {},
       [&](const std::string& output, std::map<std::string, SimStats>&) {
         EXPECT_TRUE(ReadAll(dest / "steady.cfg") == Content("steady", 4, 1000)) << output;
         const std::string metrics = ReadAll(scratch.Path() / "backup.prom");
         EXPECT_NE(metrics.find("\ntarnwick_backup_running 1\n"), std::string::npos) << metrics;
         EXPECT_NE(
             metrics.find("\ntarnwick_backup_last_start_timestamp_seconds " + std::to_string(t0 + 57 * 3600)),
             std::string::npos)
             << metrics;
       }},
      {"the next night announces what the killed one stored: its change, diff and hook",
       [&] {
         ::unsetenv("TARNWICK_TEST_KILL_AT");
         fleet.erase(fleet.begin());
       },
       58,
       "--diff --metrics " + scratch.Str() + "/backup.prom --on-change 'sh -c \"echo $TARNWICK_DEVICE >> " +
           scratch.Str() + "/changed.txt\"' --on-change-batch 'sh -c \"cat > " + scratch.Str() +
           "/batch.txt\"' --on-done 'flock -n " + dest.string() + "/.tarnwick.lock touch " + scratch.Str() +
           "/unlocked'",
       0,
       {"steady", "changed", "--- a/steady\n+++ b/steady\n@@ -1,"},
       [&](const std::string&, std::map<std::string, SimStats>&) {
         EXPECT_EQ(ReadAll(scratch.Path() / "changed.txt"), "steady\n");  // night 1's new ones: no hook
         EXPECT_EQ(ReadAll(scratch.Path() / "batch.txt"),
                   "changed\tsteady\t" + dest.string() + "/steady.cfg\n");
         EXPECT_TRUE(fs::exists(scratch.Path() / "unlocked"));  // hooks run with the lock released
         const std::string metrics = ReadAll(scratch.Path() / "backup.prom");
         EXPECT_NE(metrics.find("\ntarnwick_backup_running 0\n"), std::string::npos) << metrics;
         // Counts only, for the collector's own user: the mode any new file gets.
         const mode_t umask = ::umask(022);
         ::umask(umask);
         struct stat prom {};
         ASSERT_EQ(::stat((scratch.Str() + "/backup.prom").c_str(), &prom), 0);
         EXPECT_EQ(prom.st_mode & 0777, 0666 & ~umask);
         EXPECT_NE(metrics.find("\ntarnwick_backup_devices{result=\"changed\"} 1\n"), std::string::npos)
             << metrics;
       }},
      {"a broken quote hides the rows after it: nothing pruned or forgotten, no phantom device",
       [&] {
         SimDevice broken;
         broken.name = "\"broken";
         fleet.insert(fleet.begin(), broken);
       },
       59,
       "--prune --on-failure 'sh -c \"echo $TARNWICK_DEVICE >> " + scratch.Str() + "/failed.txt\"'",
       1,
       {"the inventory has faulty rows: no device is taken for gone, nothing is pruned or forgotten"},
       [&](const std::string& output, std::map<std::string, SimStats>&) {
         EXPECT_TRUE(fs::exists(dest / "steady.cfg") && fs::exists(dest / "stamped.cfg")) << output;
         const std::string state = ReadAll(dest / ".tarnwick.state");
         EXPECT_EQ(state.find("(line"), std::string::npos) << state;
         EXPECT_NE(state.find("\nsteady\t"), std::string::npos) << state;
         EXPECT_FALSE(fs::exists(scratch.Path() / "failed.txt"));  // a refused row reaches no hook
       }},
      // The clock set back behind the last change, two nights: its history
      // copy is newer than these successes, yet announced already.
      {"a clock set back: the last change is not announced again",
       [&] { fleet.erase(fleet.begin()); },
       20,
       "",
       0,
       {"\nsteady ", "unchanged", "\nstamped "},
       [](const std::string&, std::map<std::string, SimStats>&) {}},
      {"the next night under that clock neither",
       [] {},
       21,
       "",
       0,
       {"\nsteady ", "unchanged", "\nstamped "},
       [](const std::string&, std::map<std::string, SimStats>&) {}},
      {"a rule that backtracks for ages on every changed line costs linear time; --secret masks",
       [&] { fleet[0].version = 5; },
       60,
       "--diff --ignore '^(\\S+\\s?)*@$' --ignore '(x+x+)+y' --secret '^\\S+' --report " + scratch.Str() +
           "/masked.json",
       0,
       {"steady", "changed", "--- a/steady", "\n-<secret:", "\n+<secret:"},
       [&](const std::string& output, std::map<std::string, SimStats>& stats) {
         EXPECT_EQ(stats["steady"].done, 1u);
         const std::string stored = ReadAll(dest / "steady.cfg"),
                           json = ReadAll(scratch.Path() / "masked.json");
         EXPECT_TRUE(stored == Content("steady", 5, 1000));  // the stored copy is never masked
         for (std::size_t line = 0; line < 1000; line += 64) {
           const std::string head =
               stored.substr(line, std::min<std::size_t>(stored.find(' ', line) - line, 20));
           if (head.size() < 8) continue;  // a short first word may well appear elsewhere
           EXPECT_EQ(output.find(head), std::string::npos) << head;
           EXPECT_EQ(json.find(fleet::JsonString(head).substr(1, 18)), std::string::npos) << head;
         }
       }},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.what);
    row.change();
    FleetSim sim(fleet, scratch.Str());
    ASSERT_EQ(sim.Error(), "");
    std::string rowsText = InventoryFor(fleet);
    rowsText.replace(rowsText.find("expect\n"), 7, "expect,ignore,enabled,push\n");
    rowsText += pushOnlyRow;
    WriteAll(inventory, rowsText);
    ::chmod(inventory.c_str(), 0600);
    // Bounded: a run that hangs fails its row instead of the whole suite.
    ProcessResult r =
        RunCommand("TARNWICK_TEST_NOW=" + std::to_string(t0 + row.hours * 3600) + " timeout 120 " +
                   Cli(inventory + " --dest " + dest.string() + " --ignore-file " + ignoreFile +
                       " --no-progress --timeout 200 --retries 1 " + row.options));
    auto stats = sim.Stop();
    if (row.status == kKilled) {
      EXPECT_TRUE(r.status == 128 + SIGKILL || r.status == -1) << r.status << r.output;
    } else {
      EXPECT_EQ(r.status, row.status) << r.output;
    }
    std::size_t at = 0;
    for (const std::string& text : row.says) {
      at = r.output.find(text, at);
      ASSERT_NE(at, std::string::npos) << text << " in\n" << r.output;
    }
    row.check(r.output, stats);
  }
}

}  // namespace
}  // namespace tarnwick::fleet_sim
