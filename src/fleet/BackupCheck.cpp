#include "fleet/BackupCheck.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "archive/ConfigStore.h"
#include "archive/GitArchive.h"
#include "archive/ProcessId.h"
#include "cliutil/Console.h"
#include "fleet/BackupPlatform.h"
#include "fleet/NightlyRun.h"
#include "fleet/Resolver.h"

namespace tarnwick::fleet {

namespace {

constexpr int kExitDone = 0, kExitFailed = 1, kExitArchive = 3;
using Clock = std::chrono::steady_clock;

}  // namespace

int RunBackupCheck(const BackupOptions& o, const std::vector<Device>& devices, std::ostream& out,
                   std::ostream& err) {
  int exitCode = kExitDone;
  Resolver resolver(SystemLookup(), 16);
  std::set<std::size_t> waiting;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const Device& d = devices[i];
    if (!d.fault.empty() || !d.enabled) continue;
    resolver.Ask(i, d.host, d.port);
    waiting.insert(i);
  }
  std::map<std::size_t, std::string> problems;
  const auto giveUp = Clock::now() + std::chrono::seconds(30);
  while (!waiting.empty() && Clock::now() < giveUp && !cli::StopRequested()) {
    resolver.Wait(std::chrono::milliseconds(200));
    for (Resolver::Answer& answer : resolver.Take()) {
      waiting.erase(answer.ticket);
      if (!answer.address) problems[answer.ticket] = answer.error;
    }
  }
  for (std::size_t i : waiting) problems[i] = "cannot resolve " + devices[i].host + ": no answer within 30 s";
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const Device& d = devices[i];
    std::string line = Printable(d.name) + "  " + Printable(d.host) + ":" + Printable(d.port) + "  ";
    if (!d.fault.empty())
      line += "cannot be fetched: inventory line " + std::to_string(d.line) + ": " + d.fault;
    else if (!d.enabled)
      line += "disabled";
    else if (d.PushOnly())
      line += problems.count(i) ? "pushes, but " + Printable(problems[i])
                                : "not fetched: pushes " + Printable(d.push);
    else if (problems.count(i))
      line += "cannot be fetched: " + Printable(problems[i]);
    else
      line += "would fetch " + Printable(d.remote);
    out << line << '\n';
    if (!d.fault.empty() || problems.count(i)) exitCode = kExitFailed;
  }
  std::error_code ec;
  if (!std::filesystem::exists(archive::PathFromUtf8(o.dest), ec)) {
    out << "dest " << o.dest << ": does not exist yet, the run will make it\n";
  } else {
    archive::DestOpening opening;
    std::unique_ptr<archive::ConfigStore> store = archive::ConfigStore::Open(
        o.dest, "pid " + std::to_string(archive::CurrentProcessId()) + ", --check\n", opening,
        ServeTurn(o.dest, err));
    for (const std::string& warning : opening.warnings)
      err << "tarnwick-cli backup: warning: " << warning << '\n';
    if (!store) {
      err << "tarnwick-cli backup: " << opening.error << '\n';
      return kExitArchive;
    }
    out << "dest " << o.dest << ": usable, not locked by another run\n";
    if (o.git) {
      std::string error;
      if (!std::filesystem::exists(archive::PathFromUtf8(o.dest) / ".git", ec)) {
        out << "git: no repository yet, the run will make one\n";
      } else if (auto git = archive::GitArchive::Open(o.dest, error); !git) {
        err << "tarnwick-cli backup: git: " << error << '\n';
        return kExitArchive;
      } else {
        if (!git->OpenWarning().empty())
          err << "tarnwick-cli backup: warning: " << git->OpenWarning() << '\n';
        // What the run's commit would fail on, asked now.
        git->UseBranch(o.gitBranch);
        if (std::string blocker = git->CommitBlocker(); !blocker.empty()) {
          err << "tarnwick-cli backup: git: " << blocker << '\n';
          return kExitArchive;
        }
        out << "git: repository opens, commits go onto "
            << (o.gitBranch.empty() ? "the branch checked out" : "branch " + o.gitBranch) << '\n';
      }
    }
  }
  return exitCode;
}

}  // namespace tarnwick::fleet
