// `tarnwick-cli backup` from end to end: the inventory, then for each device
// fetch (FetchStage, in rounds: DeviceRounds) and the archive's validate and store (archive/Archive.h),
// then the state, the summary, one commit for the run, the reports and the
// hooks -- RunBackup reads as those steps. Each step owns what it works on and
// hands a device's result on in its DeviceReport.
#include "fleet/Backup.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "archive/Archive.h"
#include "archive/ConfigStore.h"
#include "archive/Flusher.h"
#include "archive/GitArchive.h"
#include "archive/ProcessId.h"
#include "archive/ReportFile.h"
#include "archive/RunState.h"
#include "archive/SecretMask.h"
#include "archive/UnifiedDiff.h"
#include "archive/Validate.h"
#include "cliutil/Console.h"
#include "cliutil/FileHandle.h"
#include "fleet/BackupCheck.h"
#include "fleet/BackupOptions.h"
#include "fleet/BackupPlatform.h"
#include "fleet/BackupReport.h"
#include "fleet/DeviceRounds.h"
#include "fleet/FetchStage.h"
#include "fleet/Hooks.h"
#include "fleet/HtmlReport.h"
#include "fleet/Inventory.h"
#include "fleet/Metrics.h"
#include "fleet/NightlyRun.h"
#include "fleet/Resolver.h"
#include "fleet/TextFile.h"

namespace tarnwick::fleet {

using tftp::Clock;

namespace {

constexpr int kExitDone = 0, kExitFailed = 1, kExitUsage = 2, kExitArchive = 3;

std::string IsoTime(std::time_t t) {
  std::string s = archive::HistoryStamp(t);  // 20261208T013000Z
  return s.substr(0, 4) + "-" + s.substr(4, 2) + "-" + s.substr(6, 5) + ":" + s.substr(11, 2) + ":" +
         s.substr(13);
}

// While the run polls, the first Ctrl+C abandons the transfers and removes
// their temporary files; a second one ends the process at once (the next
// run sweeps what it leaves).
struct StopPollingScope {
  StopPollingScope() {
    cli::InstallStopHandlers();
    cli::SetStopPolling(cli::StopPolling::FirstSignal);
  }
  ~StopPollingScope() { cli::SetStopPolling(cli::StopPolling::None); }
  StopPollingScope(const StopPollingScope&) = delete;
  StopPollingScope& operator=(const StopPollingScope&) = delete;
};

std::string CommitMessage(const std::vector<DeviceReport>& rows, const std::string& started) {
  std::vector<std::string> names;
  std::size_t changed = 0, created = 0;
  for (const DeviceReport& r : rows)
    if (Saved(r.result)) {
      names.push_back(r.name);
      ++(r.result == DeviceResult::New ? created : changed);
    }
  if (names.empty()) return "backup " + started + ": the saved configurations as they stand\n";
  std::string counts;
  if (changed) counts = std::to_string(changed) + (changed == 1 ? " device changed" : " devices changed");
  if (changed && created) counts += ", ";
  if (created) counts += std::to_string(created) + (created == 1 ? " device new" : " devices new");
  std::string message = "backup " + started + ": " + counts + "\n\n";
  for (const std::string& name : names) message += name + "\n";
  return message;
}

}  // namespace

namespace {

using archive::kMaxStateBytes;
constexpr const char* kStateName = archive::kStateFileName;

// Now as UTC seconds; TARNWICK_TEST_NOW stands in for the clock (Backup.h).
std::int64_t Now() {
  if (const char* fake = std::getenv("TARNWICK_TEST_NOW"); fake && *fake) {
    char* end = nullptr;
    const long long value = std::strtoll(fake, &end, 10);
    if (end && *end == '\0' && value > 0) return value;
  }
  return static_cast<std::int64_t>(std::time(nullptr));
}

// Devices gone from the inventory: listed once, forgotten by the state and,
// with --prune, their saved copy moved into their history -- unless the
// inventory may have lost them by accident (PruneRefusal), when they are
// kept as they are and nothing is said to be gone.
void SettleGone(const BackupOptions& o, bool faultyInventory, archive::ConfigStore& store,
                archive::RunState& state, RunFacts& facts, const std::string& stamp, std::ostream& err) {
  if (facts.gone.empty()) return;
  const std::string refusal =
      PruneRefusal(facts.gone.size(), state.devices.size(), faultyInventory, o.pruneForce || !o.prune);
  if (!refusal.empty()) {
    err << "tarnwick-cli backup: " << (o.prune ? "--prune: " : "") << refusal << '\n';
    facts.gone.clear();
    return;
  }
  std::string error;
  for (const std::string& name : facts.gone) {
    if (o.prune && o.retryFailed.empty()) {
      std::string historyFile;
      if (store.Retire(name, stamp, historyFile, error)) {
        if (!historyFile.empty()) facts.pruned.push_back(name);
      } else {
        err << "tarnwick-cli backup: --prune " << name << ": " << error << '\n';
      }
    }
    state.devices.erase(std::remove_if(state.devices.begin(), state.devices.end(),
                                       [&](const archive::DeviceState& s) { return s.name == name; }),
                        state.devices.end());
  }
}

// Copies a run put in place but never announced, because it was killed
// before its state was written: a device's newest history copy made after
// its last success the state knows of (the run that made it never
// finished), or a saved copy of a device the state has never seen succeed.
// Name -> the copy it replaced ("" for a first copy). Only from a state
// read whole (or none at all: a first night killed): from a damaged one,
// devices that lost their record would look unannounced.
std::map<std::string, std::string> LeftUnannounced(archive::ConfigStore& store,
                                                   const archive::RunState& state,
                                                   const std::vector<Device>& devices) {
  // The later of the last success and the last change: a clock set back
  // since a change leaves that change's history copy newer than the
  // successes after it.
  std::map<std::string, std::int64_t> lastSuccess;
  for (const archive::DeviceState& known : state.devices)
    lastSuccess[known.name] = std::max(known.lastSuccess, known.lastChange);
  std::map<std::string, std::string> left;
  for (const Device& d : devices) {
    // A push-only device's copy is put in place by serve, which announces it.
    if (!d.fault.empty() || !d.enabled || d.PushOnly()) continue;
    auto known = lastSuccess.find(d.name);
    if (known == lastSuccess.end() || known->second == 0) {
      if (store.HasSaved(d.name)) left[d.name] = "";
      continue;
    }
    const std::string newest = store.NewestHistory(d.name);
    const std::string since = archive::HistoryStamp(static_cast<std::time_t>(known->second));
    const std::size_t base = newest.rfind('/') + 1;
    if (!newest.empty() && newest.compare(base, since.size(), since) > 0) left[d.name] = newest;
  }
  return left;
}

// --metrics at the start: running, with the last finished run's figures
// from the file as it stands. A heartbeat that cannot be written is said,
// never the end of the night's backup.
void StartMetrics(const std::string& path, std::int64_t now, RunMetrics& metrics, std::ostream& err) {
  if (path.empty()) return;
  std::string previous, error;
  if (ReadTextFile(path, "metrics", previous, error)) metrics = FinishedRunIn(previous);
  metrics.running = true;
  metrics.started = now;
  if (!archive::WriteReportFile(path, MetricsText(metrics), archive::ReportReaders::All, error))
    err << "tarnwick-cli backup: " << error << '\n';
}

bool FinishMetrics(const std::string& path, RunMetrics& metrics, std::int64_t finished,
                   const std::vector<DeviceReport>& rows, std::size_t stale, std::ostream& err) {
  if (path.empty()) return true;
  metrics.running = false;
  metrics.finished = finished;
  metrics.durationSeconds = finished - metrics.started;
  metrics.totals = CountResults(rows);
  metrics.stale = stale;
  std::string error;
  if (archive::WriteReportFile(path, MetricsText(metrics), archive::ReportReaders::All, error)) return true;
  err << "tarnwick-cli backup: " << error << '\n';
  return false;
}

// One night, step by step: what RunBackup reads before it touches DEST, what
// it holds while it runs, and what it hands on to the reports and hooks.
struct Night {
  Night(const BackupOptions& options, std::ostream& o, std::ostream& e) : opts(options), out(o), err(e) {}
  const BackupOptions& opts;
  std::ostream& out;
  std::ostream& err;
  // Read and checked before anything is fetched.
  IgnoreRuleList commonRules;
  IgnoreFile ignoreFile;
  std::optional<archive::SecretMask> secretMask;
  HookCommands hooks;
  std::set<std::string> retryNames;
  Inventory inventory;
  std::vector<std::string> inventoryNames;  // the whole inventory's, for what was added and what is gone
  std::vector<Device> devices;              // the devices this run takes
  std::vector<IgnoreRuleList> rules;        // per device
  std::vector<std::string> secrets;         // the devices' passwords, kept out of every text
  // The run.
  std::int64_t now = 0;
  std::time_t realStart = 0, startedAt = 0;
  RunFacts facts;
  archive::DestOpening opening;
  std::unique_ptr<archive::ConfigStore> store;
  std::unique_ptr<archive::GitArchive> git;
  std::unique_ptr<archive::Archive> archive;
  RunMetrics metrics;
  archive::RunState state;
  bool stateWhole = false;  // every saved copy of a device the state does not know is unannounced
  std::vector<DeviceReport> rows;
  std::vector<archive::StaleDevice> stale;
  bool storeFailed = false;
  std::string notCommitted;  // why the store is not fit to commit, in the archive's result
  std::string changeList;    // --on-change-batch's file in DEST

  void Say(const std::string& text) { err << "tarnwick-cli backup: " << text << '\n'; }
  void Warn(const std::string& text) { Say("warning: " + text); }
};

// Every rule, file and hook is checked before anything is fetched: a typo
// in one is a usage error naming it, not a night without backups.
bool ReadRulesAndHooks(Night& n) {
  const BackupOptions& o = n.opts;
  std::string text, error;
  if (!CompileIgnoreRules(o.ignore, n.commonRules, error)) return n.Say("--ignore: " + error), false;
  if (!o.ignoreFile.empty()) {
    if (!ReadTextFile(o.ignoreFile, "ignore file", text, error)) return n.Say(error), false;
    if (!ParseIgnoreFile(text, n.ignoreFile, error)) return n.Say(o.ignoreFile + ": " + error), false;
  }
  std::vector<archive::Pattern> secretRules;
  if (!SecretRules(o.secret, n.ignoreFile, secretRules, error)) return n.Say("--secret: " + error), false;
  n.secretMask.emplace(archive::SecretMask::RandomKey(), std::move(secretRules));
  n.hooks.timeLimit = std::chrono::seconds(o.hookTimeoutSeconds);
  if (!SplitHookOption("--on-change", o.onChange, n.hooks.onChange, error) ||
      !SplitHookOption("--on-failure", o.onFailure, n.hooks.onFailure, error) ||
      !SplitHookOption("--on-done", o.onDone, n.hooks.onDone, error) ||
      !SplitHookOption("--on-change-batch", o.onChangeBatch, n.hooks.onChangeBatch, error))
    return n.Say(error), false;
  if (!o.retryFailed.empty() &&
      (!ReadTextFile(o.retryFailed, "report", text, error) || !FailedInReport(text, n.retryNames, error)))
    return n.Say("--retry-failed " + o.retryFailed + ": " + error), false;
  return true;
}

// The inventory, and the devices this run takes from it.
bool ReadDevices(Night& n) {
  const BackupOptions& o = n.opts;
  std::string text, error;
  if (!ReadInventoryFile(o.inventory, text, error)) return n.Say(error), false;
  n.inventory = ParseInventory(text, o.defaults);
  for (const InventoryError& e : n.inventory.errors)
    n.err << o.inventory << ":" << e.line << ": " << e.message << '\n';
  if (!n.inventory.usable) return n.Say("the inventory cannot be used, nothing fetched"), false;
  // Columns we do not read are a fact of the export, not a bad night:
  // --quiet keeps them out of cron's mail.
  if (!o.quiet)
    for (const std::string& warning : n.inventory.warnings) n.Warn(o.inventory + ": " + warning);
  if (n.inventory.holdsPasswords && o.inventory != "-") {
    std::string warning = ExposedSecretsWarning(o.inventory);
    if (!warning.empty()) n.Warn(warning);
  }
  if (o.git && !archive::GitArchive::Loadable(error)) return n.Say(error), false;
  for (const Device& d : n.inventory.devices)
    if (!d.name.empty() && d.fault.empty()) n.inventoryNames.push_back(d.name);
  for (const Device& d : n.inventory.devices) {
    bool taken = o.only.empty() && o.retryFailed.empty();
    for (const std::string& glob : o.only) taken = taken || GlobMatches(glob, d.name);
    if (!o.retryFailed.empty()) taken = n.retryNames.count(d.name) > 0;
    if (taken) n.devices.push_back(d);
  }
  n.rules = RulesPerDevice(n.devices, n.commonRules, n.ignoreFile);
  for (const Device& d : n.devices)
    if (!d.password.empty()) n.secrets.push_back(d.password);
  return true;
}

// DEST held for this run (a second run is refused, naming the holder), and
// what it remembers of earlier runs; a damaged state costs history, never
// the night's backup.
bool OpenDest(Night& n) {
  const BackupOptions& o = n.opts;
  n.now = Now();
  n.realStart = std::time(nullptr);
  n.startedAt = static_cast<std::time_t>(n.now);
  n.facts.started = IsoTime(n.startedAt);
  // serve takes DEST for each batch of pushes it stores, seconds at most:
  // the night waits its turn rather than failing. Another backup holds it
  // for the night and is refused at once.
  {
    StopPollingScope stopPolling;
    n.store = archive::ConfigStore::Open(
        o.dest, "pid " + std::to_string(archive::CurrentProcessId()) + ", started " + n.facts.started + "\n",
        n.opening, ServeTurn(o.dest, n.err));
  }
  for (const std::string& warning : n.opening.warnings) n.Warn(warning);
  if (!n.store) return n.Say(n.opening.error), false;
  // The night starts once it has DEST: pushes serve stored while it waited
  // are then earlier than its clock, never successes "in the future".
  if (const std::time_t waited = std::time(nullptr) - n.realStart; waited > 0) {
    n.now += waited;
    n.realStart += waited;
    n.startedAt = static_cast<std::time_t>(n.now);
    n.facts.started = IsoTime(n.startedAt);
  }
  if (n.store->Swept() && !o.quiet)
    n.Say("removed " + std::to_string(n.store->Swept()) + " temporary files of an earlier run that stopped");
  StartMetrics(o.metrics, n.now, n.metrics, n.err);
  n.archive = std::make_unique<archive::Archive>(*n.store, archive::HistoryStamp(n.startedAt));
  return true;
}

void LoadState(Night& n) {
  bool missing = true;
  std::string bytes, error;
  if (!n.store->ReadFile(kStateName, kMaxStateBytes, bytes, missing, error)) {
    n.Warn(error + "; the devices' history starts again");
    return;
  }
  if (missing) {
    n.stateWhole = true;  // no run finished here yet: every saved copy is unannounced
    return;
  }
  archive::ParsedRunState parsed = archive::ParseRunState(bytes);
  for (const std::string& warning : parsed.warnings) n.Warn(std::string(kStateName) + ": " + warning);
  n.state = std::move(parsed.state);
  n.stateWhole = parsed.warnings.empty();
  archive::InventoryChange change = archive::CompareInventory(n.state, n.inventoryNames);
  n.facts.added = std::move(change.added);
  n.facts.gone = std::move(change.gone);
}

void OpenGit(Night& n) {
  const BackupOptions& o = n.opts;
  if (!o.git) return;
  n.facts.archive.attempted = true;
  n.git = archive::GitArchive::Open(o.dest, n.facts.archive.error);
  if (!n.git) return;
  n.git->UseBranch(o.gitBranch);
  if (!n.git->OpenWarning().empty()) n.Warn(n.git->OpenWarning());
  n.archive->UseGit(n.git.get(), o.gitPush);
}

// Fetch, validate and store, device by device, in rounds.
void FetchDevices(Night& n) {
  const BackupOptions& o = n.opts;
  std::string warning;
  FetchLimits limits;
  limits.jobs = FitJobsToDescriptors(o.jobs, warning);
  limits.maxBytes = o.maxBytes;
  limits.deadline = std::chrono::seconds(o.deadlineSeconds);
  if (!warning.empty()) n.Warn(warning);
  StopPollingScope stopPolling;
  // The JSON report and the page carry the diffs; CSV has no room for them.
  bool wantDiff = o.diff;
  for (const std::string& report : o.reports)
    wantDiff = wantDiff || ReportIsJson(report) || ReportIsHtml(report);
  n.rows = RunDeviceRounds(
      n.devices, n.rules, wantDiff, *n.secretMask, *n.store, *n.archive, o.progress, n.err,
      n.stateWhole ? LeftUnannounced(*n.store, n.state, n.devices) : std::map<std::string, std::string>{},
      limits, o.rounds);
}

// The state: this run's attempts, the devices gone, then who is stale.
void RecordState(Night& n) {
  const BackupOptions& o = n.opts;
  // A faulty row is no device: it was never tried, and its name may be a
  // placeholder.
  for (std::size_t i = 0; i < n.rows.size(); ++i) {
    const DeviceReport& r = n.rows[i];
    const bool ok = Saved(r.result) || r.result == DeviceResult::Unchanged;
    if (!r.name.empty() && n.devices[i].fault.empty() && (ok || r.result == DeviceResult::Failed))
      archive::RecordAttempt(n.state, r.name, n.now, ok, Saved(r.result), r.error);
  }
  // A push-only device is never attempted here; listing it starts the wait
  // for its first push.
  for (const Device& d : n.devices)
    if (d.fault.empty() && d.enabled && d.PushOnly()) archive::AwaitPush(n.state, d.name, n.now);
  SettleGone(o, !n.inventory.errors.empty(), *n.store, n.state, n.facts, archive::HistoryStamp(n.startedAt),
             n.err);
  // Stale among the devices the inventory still fetches or takes pushes
  // from: a disabled one is left alone on purpose.
  std::set<std::string> enabled, pushOnly;
  for (const Device& d : n.inventory.devices) {
    if (d.enabled) enabled.insert(d.name);
    if (d.enabled && d.fault.empty() && d.PushOnly()) pushOnly.insert(d.name);
  }
  archive::RunState listed;
  for (const archive::DeviceState& known : n.state.devices)
    if (enabled.count(known.name)) listed.devices.push_back(known);
  n.stale = archive::StaleDevices(listed, n.now, o.staleHours, pushOnly);
  for (const std::string& name : archive::SuccessesInTheFuture(listed, n.now))
    n.Warn(Printable(name) +
           ": its last success is later than now (a clock that was wrong then): counted as unknown");
  n.facts.staleLine = archive::StaleLine(n.stale);
  std::map<std::string, const archive::DeviceState*> known;
  for (const archive::DeviceState& device : listed.devices) known[device.name] = &device;
  std::set<std::string> staleNames;
  for (const archive::StaleDevice& d : n.stale) staleNames.insert(d.name);
  for (DeviceReport& r : n.rows) {
    r.stale = staleNames.count(r.name) > 0;
    auto found = known.find(r.name);
    if (found == known.end()) continue;
    const archive::DeviceState& s = *found->second;
    r.lastSuccess = s.lastSuccess;
    r.lastPush = s.lastPush;
    r.lastPushFrom = s.lastPushFrom;
    if (r.result != DeviceResult::NotPushed) continue;
    if (s.lastSuccess > 0) r.result = DeviceResult::Pushed;
    // The push serve refused last, until one is accepted.
    if (s.failingSince > 0) r.error = s.lastError;
  }
  std::string error;
  if (!n.store->WriteAtomically(kStateName, archive::SerializeRunState(n.state), error)) {
    n.Say(error);
    n.storeFailed = true;
    n.notCommitted = "not committed: the state file could not be written";
  }
  if (o.keep)
    for (const DeviceReport& r : n.rows)
      if (Saved(r.result) || r.result == DeviceResult::Unchanged) n.store->TrimHistory(r.name, o.keep);
}

// The summary on the terminal (cron's mail); the exit status of the devices.
int Summarize(Night& n) {
  const BackupOptions& o = n.opts;
  const RunFacts& facts = n.facts;
  const RunTotals totals = CountResults(n.rows);
  if (o.quiet) {
    n.err << QuietSummary(n.rows, facts.staleLine, !n.stale.empty());
  } else {
    n.err << n.rows.size() << " devices, started " << facts.started << '\n' << SummaryText(n.rows);
    for (const std::string& name : facts.added) n.err << "added to the inventory: " << name << '\n';
    for (const std::string& name : facts.gone)
      n.err << "gone from the inventory: " << name
            << (std::find(facts.pruned.begin(), facts.pruned.end(), name) != facts.pruned.end()
                    ? " (its copy moved into its history)"
                    : "")
            << '\n';
    n.err << facts.staleLine << '\n';
  }
  if (cli::StopRequested()) n.Say("interrupted; devices not reached are listed above");
  if (o.diff) {
    n.err << std::flush;
    for (const DeviceReport& r : n.rows)
      if (r.result == DeviceResult::Changed && !r.diff.empty()) n.out << TerminalDiff(r.diff);
    n.out << std::flush;
  }
  return totals.failed || totals.interrupted || totals.notReached || !n.stale.empty() ? kExitFailed
                                                                                      : kExitDone;
}

// The store made durable, then one commit (and its push) for the run.
void CommitArchive(Night& n) {
  const BackupOptions& o = n.opts;
  ArchiveReport& result = n.facts.archive;
  std::string error;
  if (!n.store->SyncFolders(error)) {
    n.Say(error);
    n.storeFailed = true;
    if (n.notCommitted.empty()) n.notCommitted = "not committed: the folder could not be flushed";
  }
  if (n.git) {
    std::string warning;
    result.ok = !n.storeFailed && n.archive->Commit(CommitMessage(n.rows, n.facts.started), result.commit,
                                                    result.error, warning);
    if (n.storeFailed) result.error = n.notCommitted;
    if (!warning.empty()) n.Warn(warning);
  }
  if (!result.attempted) return;
  if (!result.ok) return n.Say("the archive failed: " + result.error);
  if (!o.quiet)
    n.err << "archive: " << (result.commit.empty() ? "nothing new to commit" : "commit " + result.commit)
          << (o.gitPush.empty() ? "" : ", pushed to " + archive::GitArchive::ShownRemote(o.gitPush)) << '\n';
}

// The reports, the metrics and --on-change-batch's list, still under the lock.
void WriteReports(Night& n) {
  const BackupOptions& o = n.opts;
  for (DeviceReport& r : n.rows)
    if (r.result != DeviceResult::Changed) r.diff.clear();
  // On the run's own clock, so an injected start keeps its finish after it.
  n.facts.finished = IsoTime(n.startedAt + (std::time(nullptr) - n.realStart));
  std::string error;
  for (const std::string& report : o.reports) {
    const std::string content = ReportIsHtml(report)   ? HtmlReportPage(MorningPage(n.rows, n.facts))
                                : ReportIsJson(report) ? JsonReport(n.rows, n.facts)
                                                       : CsvReport(n.rows, n.facts);
    const archive::ReportReaders readers =
        n.opening.groupReadable ? archive::ReportReaders::Group : archive::ReportReaders::Owner;
    if (!archive::WriteReportFile(report, content, readers, error)) {
      n.Say(error);
      n.storeFailed = true;
    }
  }
  if (!FinishMetrics(o.metrics, n.metrics, n.now + (std::time(nullptr) - n.realStart), n.rows, n.stale.size(),
                     n.err))
    n.storeFailed = true;
  // --on-change-batch reads its list from a file in DEST (modes as the
  // configurations'), written while the lock is held; a run that dies
  // leaves it for the next one's sweep.
  if (n.hooks.onChangeBatch.empty()) return;
  const std::string list = ChangeList(n.rows, o.dest), rel = std::string(archive::kTempPrefix) + "changes-" +
                                                             std::to_string(archive::CurrentProcessId()) +
                                                             ".tmp";
  if (!list.empty() && n.store->WriteAtomically(rel, list, error)) n.changeList = o.dest + "/" + rel;
  if (!list.empty() && n.changeList.empty()) n.Say("--on-change-batch: " + error);
}

// Hooks run once the store, the archive and the report are complete, and
// with the lock released: a slow mailer holds no other run back. A failing
// hook is told, never the backup's failure.
void RunHooksAfterTheLock(Night& n) {
  const BackupOptions& o = n.opts;
  n.archive.reset();
  n.git.reset();
  n.store.reset();
  for (const std::string& failure : RunEventHooks(n.hooks, n.rows, n.facts, n.secrets, o.dest,
                                                  o.reports.empty() ? "" : o.reports.front(), n.changeList))
    n.Say("hook failed: " + failure);
  if (!n.changeList.empty()) {
    std::error_code ignored;
    std::filesystem::remove(archive::PathFromUtf8(n.changeList), ignored);
  }
}

}  // namespace

int RunBackup(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  BackupParse parsed = ParseBackupArguments(args, archive::GitArchive::Available());
  if (!parsed.ok) {
    err << "tarnwick-cli backup: " << parsed.error << '\n' << BackupUsageText();
    return kExitUsage;
  }
  const BackupOptions& o = parsed.options;
  if (o.help) {
    out << BackupUsageText();
    return kExitDone;
  }
  Night night(o, out, err);
  if (!ReadRulesAndHooks(night) || !ReadDevices(night)) return kExitUsage;
  if (o.check) return RunBackupCheck(o, night.devices, out, err);
  if (!OpenDest(night)) return kExitArchive;
  LoadState(night);
  OpenGit(night);
  FetchDevices(night);
  RecordState(night);
  const int devicesStatus = Summarize(night);
  CommitArchive(night);
  WriteReports(night);
  RunHooksAfterTheLock(night);
  const ArchiveReport& archived = night.facts.archive;
  return night.storeFailed || (archived.attempted && !archived.ok) ? kExitArchive : devicesStatus;
}

}  // namespace tarnwick::fleet
