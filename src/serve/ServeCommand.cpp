#include "serve/ServeCommand.h"

#include <chrono>
#include <mutex>

#include "archive/ConfigStore.h"
#include "archive/GitArchive.h"
#include "archive/ProcessId.h"
#include "cliutil/Console.h"
#include "fleet/Hooks.h"
#include "serve/Privileges.h"
#include "serve/PushArchiver.h"
#include "serve/PushIntake.h"
#include "serve/PushInventory.h"
#include "serve/PushSpool.h"
#include "serve/ServeLoop.h"
#include "serve/ServeOptions.h"
#include "tftp/EndpointText.h"

namespace tarnwick::serve {

namespace {

// After a stop, how long the archiver may take to store what waits before
// it is left in the spool for the next start.
constexpr std::chrono::milliseconds kArchiveDrain{10000};

// One line at a time from the loop and the archiver's thread.
class ServeLog {
 public:
  ServeLog(const ServeOptions& o, std::ostream& out, std::ostream& err) : o_(o), out_(out), err_(err) {}
  template <typename Record>
  void Write(const Record& record) {
    if (o_.quiet) return;
    std::lock_guard<std::mutex> hold(mutex_);
    if (o_.logJson)
      out_ << FormatJsonLine(record) << std::flush;
    else
      err_ << "serve: " << FormatHumanLine(record) << std::flush;
  }
  void Say(const std::string& line) {
    std::lock_guard<std::mutex> hold(mutex_);
    err_ << "serve: " << line << '\n' << std::flush;
  }

 private:
  const ServeOptions& o_;
  std::ostream& out_;
  std::ostream& err_;
  std::mutex mutex_;
};

// serve --archive: the inventory's pushes through the spool into DEST.
struct PushArchive {
  std::unique_ptr<PushSpool> spool;
  std::unique_ptr<PushArchiver> archiver;
  std::unique_ptr<PushIntake> intake;
};

// Everything is checked before a socket answers: the inventory, the hooks,
// git, DEST (made when missing) and its spool.
int OpenPushArchive(const ServeOptions& o, ServeLog& log, PushArchive& archive, std::ostream& err) {
  std::string error;
  ArchiverSettings settings;
  settings.dest = o.archive;
  settings.runInfo = "serve pid " + std::to_string(archive::CurrentProcessId()) + ", storing pushes\n";
  settings.git = o.git;
  settings.gitBranch = o.gitBranch;
  settings.gitPush = o.gitPush;
  settings.maxBytes = o.upload.maxBytes;
  settings.hooks.timeLimit = std::chrono::seconds(o.hookTimeoutSeconds);
  if (!fleet::SplitHookOption("--on-change", o.onChange, settings.hooks.onChange, error) ||
      !fleet::SplitHookOption("--on-failure", o.onFailure, settings.hooks.onFailure, error)) {
    err << "tarnwick-cli serve: " << error << '\n';
    return kServeExitUsage;
  }
  if (o.git && !archive::GitArchive::Loadable(error)) {
    err << "tarnwick-cli serve: --git: " << error << '\n';
    return kServeExitUsage;
  }
  PushInventory inventory;
  if (!LoadPushInventory(o.inventory, inventory, error)) {
    err << "tarnwick-cli serve: --inventory: " << error << '\n';
    return kServeExitFailed;
  }
  for (const std::string& note : inventory.notes) log.Say(note);
  // DEST made and checked now, not at the first push; a backup holding it
  // is no fault (the pushes wait their turn).
  archive::DestOpening opening;
  if (!archive::ConfigStore::Open(o.archive, settings.runInfo, opening) && !opening.busy) {
    err << "tarnwick-cli serve: --archive: " << opening.error << '\n';
    return kServeExitFailed;
  }
  archive.spool = PushSpool::Open(o.archive, error);
  if (!archive.spool) {
    err << "tarnwick-cli serve: --archive: " << error << '\n';
    return kServeExitFailed;
  }
  if (const std::size_t left = archive.spool->RemoveLeftovers())
    log.Say("removed " + std::to_string(left) + " cut-off uploads of an earlier run");
  archive.archiver = std::make_unique<PushArchiver>(
      std::move(settings), *archive.spool, [&log](const ArchiveRecord& r) { log.Write(r); },
      [&log](const std::string& line) { log.Say("archive: " + line); });
  archive.archiver->UseInventory(std::move(inventory.devices));
  PushArchiver* archiver = archive.archiver.get();
  archive.intake = std::make_unique<PushIntake>([archiver] { archiver->Arrived(); }, UnixMsNow);
  log.Say(std::to_string(inventory.pushers.size()) + " inventory devices may push");
  archive.intake->Use(std::move(inventory.pushers));
  return kServeExitDone;
}

// SIGHUP: the inventory read again; one that cannot be read changes nothing.
void ReloadInventory(const ServeOptions& o, ServeLog& log, PushArchive& archive) {
  PushInventory inventory;
  std::string error;
  if (!LoadPushInventory(o.inventory, inventory, error))
    return log.Say("inventory not reloaded, the previous one stays: " + error);
  for (const std::string& note : inventory.notes) log.Say(note);
  log.Say("inventory reloaded: " + std::to_string(inventory.pushers.size()) + " devices may push");
  archive.archiver->UseInventory(std::move(inventory.devices));
  archive.intake->Use(std::move(inventory.pushers));
}

}  // namespace

int RunServe(const std::vector<std::string>& args, const ServeEnvironment& environment, std::ostream& out,
             std::ostream& err) {
  const ServeParse parsed = ParseServeArguments(args);
  if (!parsed.ok) {
    err << "tarnwick-cli serve: " << parsed.error << '\n' << ServeUsageText();
    return kServeExitUsage;
  }
  const ServeOptions& o = parsed.options;
  if (o.help) {
    out << ServeUsageText();
    return kServeExitDone;
  }
  std::string error;
  const std::vector<int> activated =
      ActivatedSockets(environment.listenPid, environment.listenFds, environment.ownPid, error);
  if (!error.empty()) {
    err << "tarnwick-cli serve: " << error << '\n';
    return kServeExitUsage;
  }
  const ListenPlan plan = PlanListening(o.listen, o.port, activated);
  if (!plan.error.empty()) {
    err << "tarnwick-cli serve: " << plan.error << '\n';
    return kServeExitUsage;
  }
  std::vector<std::string> notes;
  std::vector<ServeListener> listeners = BindListeners(plan, notes, error);
  for (const std::string& note : notes) err << "serve: " << note << '\n';
  if (listeners.empty()) {
    err << "tarnwick-cli serve: " << error << '\n';
    return kServeExitUsage;
  }
  // Bound: root is no longer needed, and no file may be opened with it.
  if (!DropPrivileges(o.user, error)) {
    err << "tarnwick-cli serve: " << error << '\n';
    return kServeExitFailed;
  }
  std::unique_ptr<RootTree> tree;
  if (!o.root.empty() && !(tree = RootTree::Open(o.root, error))) {
    err << "tarnwick-cli serve: " << error << '\n';
    return kServeExitFailed;
  }
  std::unique_ptr<RootFolder> uploadDir;
  if (!o.uploadDir.empty()) {
    uploadDir = RootFolder::OpenRoot(o.uploadDir, error);
    if (!uploadDir) {
      err << "tarnwick-cli serve: --upload-dir: " << error << '\n';
      return kServeExitFailed;
    }
  }
  ServeLog log(o, out, err);
  PushArchive pushes;
  if (!o.archive.empty()) {
    const int status = OpenPushArchive(o, log, pushes, err);
    if (status != kServeExitDone) return status;
    cli::WatchReloadSignal();
  }
  for (const ServeListener& l : listeners)
    err << "serve: listening on " << tftp::EndpointText(l.local) << '\n';
  err << std::flush;

  ServeLoopSettings settings;
  settings.singlePort = o.singlePort;
  settings.upload = o.upload;
  settings.caps = o.caps;
  settings.admission = o.admission;
  settings.gate = pushes.intake.get();
  // Without ROOT there is always the archive's spool.
  const RootFolder& uploads = pushes.spool ? pushes.spool->Folder() : uploadDir ? *uploadDir : tree->Root();
  if (pushes.archiver) pushes.archiver->Start();
  ServeLoop loop(std::move(settings), std::move(listeners), tree.get(), uploads,
                 [&](const TransferRecord& record) { log.Write(record); });
  loop.Run([&] {
    if (pushes.intake && cli::TakeReloadRequest()) ReloadInventory(o, log, pushes);
    return environment.stopRequested();
  });
  if (pushes.archiver) pushes.archiver->Finish(kArchiveDrain);
  return kServeExitDone;
}

}  // namespace tarnwick::serve
