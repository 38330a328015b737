// `tarnwick-cli backup` from end to end: the inventory, then the stages --
// fetch (FetchStage), validate (Validate), store (ConfigStore), archive
// (GitArchive) -- then the summary and the report. Each stage owns what it
// works on and hands a device's result on in its DeviceReport.
#include "fleet/Backup.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <memory>

#include "cliutil/Console.h"
#include "cliutil/FileHandle.h"
#include "fleet/BackupOptions.h"
#include "fleet/BackupPlatform.h"
#include "fleet/BackupReport.h"
#include "fleet/ConfigStore.h"
#include "fleet/FetchStage.h"
#include "fleet/Flusher.h"
#include "fleet/GitArchive.h"
#include "fleet/Inventory.h"
#include "fleet/ReportFile.h"
#include "fleet/Validate.h"

#ifdef _WIN32
#include <process.h>
#define TARNWICK_PID _getpid()
#else
#include <unistd.h>
#define TARNWICK_PID ::getpid()
#endif

namespace tarnwick::fleet {

using tftp::Clock;

namespace {

constexpr int kExitDone = 0, kExitFailed = 1, kExitUsage = 2, kExitArchive = 3;
constexpr std::size_t kMaxInventoryBytes = 16u << 20;
// Flushes under way at once; the file system commits them together.
constexpr std::size_t kFlushThreads = 8;

std::string IsoTime(std::time_t t) {
  std::string s = HistoryStamp(t);  // 20261208T013000Z
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

// The inventory from a file, a pipe or FIFO, or standard input ("-"): read
// in order, never by size, so a stream works as well as a file.
bool ReadInventory(const std::string& path, std::string& text, std::string& error) {
  text.clear();
  char buffer[65536];
  if (path == "-") {
    while (std::cin.read(buffer, sizeof buffer) || std::cin.gcount() > 0) {
      text.append(buffer, static_cast<std::size_t>(std::cin.gcount()));
      if (text.size() > kMaxInventoryBytes) return error = "the inventory is larger than 16 MiB", false;
    }
    if (std::cin.bad()) return error = "cannot read the inventory from standard input", false;
    return true;
  }
  cli::FileHandle file = cli::FileHandle::OpenForReading(path);
  if (!file.Valid())
    return error = FileErrorText("cannot read inventory " + path, cli::FileError::Last()), false;
  for (;;) {
    const long long n = file.Read(buffer, sizeof buffer);
    if (n < 0) return error = FileErrorText("cannot read inventory " + path, cli::FileError::Last()), false;
    if (n == 0) return true;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxInventoryBytes)
      return error = "inventory " + path + " is larger than 16 MiB", false;
  }
}

std::string CommitMessage(const std::vector<DeviceReport>& rows, const std::string& started) {
  std::vector<std::string> names;
  for (const DeviceReport& r : rows)
    if (r.result == DeviceResult::Changed) names.push_back(r.name);
  if (names.empty()) return "backup " + started + ": the saved configurations as they stand\n";
  std::string message = "backup " + started + ": " + std::to_string(names.size()) +
                        (names.size() == 1 ? " device changed\n\n" : " devices changed\n\n");
  for (const std::string& name : names) message += name + "\n";
  return message;
}

class BackupRun {
 public:
  BackupRun(const Inventory& inventory, ConfigStore& store, std::string stamp, bool progress,
            std::ostream& err)
      : devices_(inventory.devices), store_(store), stamp_(std::move(stamp)), err_(err) {
    rows_.resize(devices_.size());
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      const Device& d = devices_[i];
      DeviceReport& row = rows_[i];
      row.line = d.line;
      row.name = d.name;
      if (!d.host.empty()) row.host = d.host + ":" + d.port;
      if (!d.fault.empty()) {
        row.result = DeviceResult::Failed;
        row.error = "inventory line " + std::to_string(d.line) + ": " + d.fault;
        ++done_;
        ++failedSoFar_;
      } else {
        order_.push_back(i);
      }
    }
    showProgress_ = progress && cli::StandardErrorIsTerminal();
  }

  void Run(const FetchLimits& limits) {
    jobs_ = static_cast<std::size_t>(std::max(limits.jobs, 1));
    RunFetchStage(
        devices_, order_, limits, store_, SystemLookup(), [] { return cli::StopRequested(); },
        [this](std::size_t index, Fetched& fetched) { Fetched_(index, fetched); });
    // Complete files still being flushed are stored, stopped run or not.
    while (!flushing_.empty()) {
      flusher_.WaitForOne();
      StoreFlushed();
    }
    if (showProgress_) err_ << '\r' << std::string(lastProgressWidth_, ' ') << '\r' << std::flush;
  }

  const std::vector<DeviceReport>& Rows() const { return rows_; }

 private:
  // A device's fetch ended: validate, then off to be flushed and stored.
  // Whatever happens from here on is this device's result only.
  void Fetched_(std::size_t index, Fetched& fetched) {
    const Device& d = devices_[index];
    DeviceReport& row = rows_[index];
    row.bytes = fetched.bytes;
    row.seconds = fetched.seconds;
    if (!fetched.complete) {
      row.result = fetched.interrupted ? DeviceResult::Interrupted : DeviceResult::Failed;
      row.errorCode = fetched.errorCode;
      row.error = ScrubbedText(fetched.error, Fields(d), fetched.errorCode >= 0);
      return Counted(true);
    }
    std::string error;
    try {
      error = Validate(d, row, *fetched.temp, fetched.announced);
    } catch (const std::exception& e) {
      error = std::string("unexpected failure: ") + e.what();
    }
    if (!error.empty()) {
      fetched.temp.reset();  // removes the file
      return Failed(index, error);
    }
    if (store_.SameAsSaved(*fetched.temp, d.name)) {
      row.result = DeviceResult::Unchanged;
      row.file = d.name + ".cfg";
      fetched.temp.reset();
      return Counted(false);
    }
    TempConfig& temp = *(flushing_[index] = std::move(fetched.temp));
    flusher_.Submit(index, temp);
    StoreFlushed();
    // Complete files waiting for the disk hold a descriptor each: a round of
    // jobs at most (BackupPlatform.h counts them; the reserve holds a few
    // for small job counts), so the driver only waits when the disk is that
    // far behind -- never after each file, which would make one job wait
    // for every fsync in turn.
    while (flusher_.Pending() >= std::max(jobs_, kFlushThreads)) {
      flusher_.WaitForOne();
      StoreFlushed();
    }
  }

  std::string Validate(const Device& d, DeviceReport& row, TempConfig& temp,
                       std::optional<std::uint64_t> announced) {
    FetchedFacts facts;
    facts.bytes = temp.Bytes();
    std::string error;
    if (!store_.PreviousSize(d.name, facts.previous, error)) return error;
    ValidationRules rules;
    rules.minRatio = d.minRatio;
    rules.expect = d.expect;
    facts.announced = d.tsize ? announced : std::nullopt;
    std::string refusal = RefusalReason(
        facts, rules,
        [&](const std::function<void(std::string_view)>& piece) { return temp.ReadBack(piece); });
    if (!refusal.empty()) {
      row.refused = true;
      if (facts.previous) row.file = d.name + ".cfg";
    }
    return refusal;
  }

  // Files whose flush came back go into place now.
  void StoreFlushed() {
    for (Flusher::Done& done : flusher_.Take()) {
      const std::size_t index = done.ticket;
      std::unique_ptr<TempConfig> temp = std::move(flushing_[index]);
      flushing_.erase(index);
      const Device& d = devices_[index];
      DeviceReport& row = rows_[index];
      std::string error = done.error;
      try {
        if (error.empty()) {
          SaveOutcome saved = store_.Save(*temp, d.name, stamp_);
          error = saved.error;
          if (saved.ok) {
            row.result = saved.changed ? DeviceResult::Changed : DeviceResult::Unchanged;
            row.history = saved.historyFile;
            row.file = d.name + ".cfg";
          }
        }
      } catch (const std::exception& e) {
        error = std::string("unexpected failure: ") + e.what();
      }
      temp.reset();  // removes the file unless the store put it in place
      if (!error.empty()) {
        Failed(index, error);
        continue;
      }
      Counted(false);
    }
  }

  void Failed(std::size_t index, const std::string& error) {
    rows_[index].result = DeviceResult::Failed;
    rows_[index].error = ScrubbedText(error, Fields(devices_[index]), false);
    Counted(true);
  }

  static NameFields Fields(const Device& d) { return {d.remote, d.password, d.delimiter, true}; }

  void Counted(bool failed) {
    ++done_;
    if (failed) ++failedSoFar_;
    if (!showProgress_) return;
    auto now = Clock::now();
    if (done_ != devices_.size() && now - lastProgress_ < std::chrono::milliseconds(100)) return;
    lastProgress_ = now;
    std::string line = ProgressLine(done_, devices_.size(), failedSoFar_);
    std::size_t width = line.size();
    if (width < lastProgressWidth_) line += std::string(lastProgressWidth_ - width, ' ');
    lastProgressWidth_ = std::max(width, lastProgressWidth_);
    err_ << '\r' << line << std::flush;
  }

  const std::vector<Device>& devices_;
  ConfigStore& store_;
  std::string stamp_;
  std::ostream& err_;
  std::vector<DeviceReport> rows_;
  std::vector<std::size_t> order_;
  std::map<std::size_t, std::unique_ptr<TempConfig>> flushing_;
  std::size_t jobs_ = 1;
  Flusher flusher_{kFlushThreads};  // after flushing_: stops before those files go
  std::size_t done_ = 0, failedSoFar_ = 0, lastProgressWidth_ = 0;
  bool showProgress_ = false;
  Clock::time_point lastProgress_{};
};

}  // namespace

int RunBackup(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  BackupParse parsed = ParseBackupArguments(args, GitArchive::Available());
  if (!parsed.ok) {
    err << "tarnwick-cli backup: " << parsed.error << '\n' << BackupUsageText();
    return kExitUsage;
  }
  const BackupOptions& o = parsed.options;
  if (o.help) {
    out << BackupUsageText();
    return kExitDone;
  }

  std::string text, error;
  if (!ReadInventory(o.inventory, text, error)) {
    err << "tarnwick-cli backup: " << error << '\n';
    return kExitUsage;
  }
  const Inventory inventory = ParseInventory(text, o.defaults);
  for (const InventoryError& e : inventory.errors)
    err << o.inventory << ":" << e.line << ": " << e.message << '\n';
  if (!inventory.usable) {
    err << "tarnwick-cli backup: the inventory cannot be used, nothing fetched\n";
    return kExitUsage;
  }
  for (const std::string& warning : inventory.warnings)
    err << "tarnwick-cli backup: warning: " << o.inventory << ": " << warning << '\n';
  if (inventory.holdsPasswords && o.inventory != "-") {
    std::string warning = ExposedSecretsWarning(o.inventory);
    if (!warning.empty()) err << "tarnwick-cli backup: warning: " << warning << '\n';
  }
  if (o.git && !GitArchive::Loadable(error)) {
    err << "tarnwick-cli backup: " << error << '\n';
    return kExitUsage;
  }

  const std::time_t startedAt = std::time(nullptr);
  RunFacts facts;
  facts.started = IsoTime(startedAt);
  DestOpening opening;
  std::unique_ptr<ConfigStore> store = ConfigStore::Open(
      o.dest, "pid " + std::to_string(TARNWICK_PID) + ", started " + facts.started + "\n", opening);
  for (const std::string& warning : opening.warnings)
    err << "tarnwick-cli backup: warning: " << warning << '\n';
  if (!store) {
    err << "tarnwick-cli backup: " << opening.error << '\n';
    return kExitArchive;
  }
  if (store->Swept())
    err << "tarnwick-cli backup: removed " << store->Swept()
        << " temporary files of an earlier run that stopped\n";

  int exitCode = kExitDone;
  std::unique_ptr<GitArchive> git;
  if (o.git) {
    facts.archive.attempted = true;
    git = GitArchive::Open(o.dest, facts.archive.error);
  }

  std::string warning;
  FetchLimits limits;
  limits.jobs = FitJobsToDescriptors(o.jobs, warning);
  limits.maxBytes = o.maxBytes;
  limits.deadline = std::chrono::seconds(o.deadlineSeconds);
  if (!warning.empty()) err << "tarnwick-cli backup: warning: " << warning << '\n';

  StopPollingScope stopPolling;
  BackupRun run(inventory, *store, HistoryStamp(startedAt), o.progress, err);
  run.Run(limits);

  const RunTotals totals = CountResults(run.Rows());
  if (totals.failed || totals.interrupted || totals.notReached) exitCode = kExitFailed;
  err << run.Rows().size() << " devices, started " << facts.started << '\n' << SummaryText(run.Rows());
  if (cli::StopRequested()) err << "tarnwick-cli backup: interrupted; devices not reached are listed above\n";

  bool storeFailed = false;
  if (!store->SyncFolders(error)) {
    err << "tarnwick-cli backup: " << error << '\n';
    storeFailed = true;
  }
  if (git) {
    std::string gitWarning;
    facts.archive.ok =
        !storeFailed && git->CommitStore(CommitMessage(run.Rows(), facts.started), facts.archive.commit,
                                         facts.archive.error, gitWarning);
    if (storeFailed) facts.archive.error = "not committed: the folder could not be flushed";
    if (!gitWarning.empty()) err << "tarnwick-cli backup: warning: " << gitWarning << '\n';
  }
  if (facts.archive.attempted) {
    if (facts.archive.ok)
      err << "archive: "
          << (facts.archive.commit.empty() ? "nothing new to commit" : "commit " + facts.archive.commit)
          << '\n';
    else
      err << "tarnwick-cli backup: the archive failed: " << facts.archive.error << '\n';
  }
  facts.finished = IsoTime(std::time(nullptr));
  if (!o.report.empty()) {
    const std::string content =
        ReportIsJson(o.report) ? JsonReport(run.Rows(), facts) : CsvReport(run.Rows(), facts);
    if (!WriteReportFile(o.report, content, error)) {
      err << "tarnwick-cli backup: " << error << '\n';
      storeFailed = true;
    }
  }
  git.reset();
  store.reset();  // the lock goes last
  if (storeFailed || (facts.archive.attempted && !facts.archive.ok)) exitCode = kExitArchive;
  return exitCode;
}

}  // namespace tarnwick::fleet
