#include "fleet/Backup.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <system_error>

#include "base/Exception.h"
#include "base/TextCodec.h"
#include "cliutil/Console.h"
#include "fleet/BackupOptions.h"
#include "fleet/BackupPlatform.h"
#include "fleet/BackupReport.h"
#include "fleet/ConfigStore.h"
#include "fleet/GitArchive.h"
#include "fleet/Inventory.h"
#include "tftp/ClientTransfer.h"
#include "tftp/TransferDriver.h"

namespace tarnwick::fleet {

namespace fs = std::filesystem;
using tftp::Clock;

namespace {

constexpr int kExitDone = 0, kExitFailed = 1, kExitUsage = 2;
constexpr std::uintmax_t kMaxInventoryBytes = 16u << 20;

std::string IsoTime(std::time_t t) {
  std::string s = HistoryStamp(t);  // 20261208T013000Z
  return s.substr(0, 4) + "-" + s.substr(4, 2) + "-" + s.substr(6, 5) + ":" + s.substr(11, 2) + ":" +
         s.substr(13);
}

// A stopped run removes its own temporary files, however many signals come
// meanwhile; the command line's handling returns when the run is over.
struct StopPollingScope {
  StopPollingScope() {
    cli::InstallStopHandlers();
    cli::SetStopPolling(cli::StopPolling::EverySignal);
  }
  ~StopPollingScope() { cli::SetStopPolling(cli::StopPolling::None); }
  StopPollingScope(const StopPollingScope&) = delete;
  StopPollingScope& operator=(const StopPollingScope&) = delete;
};

struct Job {
  std::size_t index = 0;
  std::unique_ptr<TempConfig> temp;
  std::unique_ptr<tftp::ClientTransfer> transfer;
  Clock::time_point started;
};

class BackupRun {
 public:
  BackupRun(const BackupOptions& options, const Inventory& inventory, fs::path dest, std::string stamp,
            std::ostream& err)
      : options_(options),
        devices_(inventory.devices),
        dest_(std::move(dest)),
        stamp_(std::move(stamp)),
        err_(err) {
    rows_.resize(devices_.size());
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      rows_[i].name = devices_[i].name;
      rows_[i].host = devices_[i].host + ":" + devices_[i].port;
    }
    showProgress_ = options.progress && cli::StandardErrorIsTerminal();
  }

  void Run(int jobs) {
    jobs_ = static_cast<std::size_t>(jobs);
    tftp::TransferDriver driver;
    driver.OnFinished([this, &driver](tftp::TransferDriver::TransferId, const tftp::ClientTransfer& t) {
      Finished(t);
      if (!starting_) StartMore(driver);
    });
    StartMore(driver);
    driver.Run([] { return cli::StopRequested(); }, "interrupted");
    // Whatever the driver did not report back was cut short.
    for (auto& [transfer, job] : running_) {
      job.temp->Discard();
      rows_[job.index].result = DeviceResult::Interrupted;
      rows_[job.index].error = "interrupted";
    }
    running_.clear();
    if (showProgress_) err_ << '\r' << std::string(lastProgressWidth_, ' ') << '\r' << std::flush;
  }

  const std::vector<DeviceReport>& Rows() const { return rows_; }
  std::vector<std::string> ChangedFiles() const { return changedFiles_; }
  std::vector<std::string> ChangedNames() const {
    std::vector<std::string> names;
    for (const DeviceReport& r : rows_)
      if (r.result == DeviceResult::Changed) names.push_back(r.name);
    return names;
  }

 private:
  void StartMore(tftp::TransferDriver& driver) {
    starting_ = true;
    while (running_.size() < jobs_ && next_ < devices_.size() && !cli::StopRequested())
      Start(driver, next_++);
    starting_ = false;
  }

  void Start(tftp::TransferDriver& driver, std::size_t index) {
    const Device& d = devices_[index];
    DeviceReport& row = rows_[index];
    Job job;
    job.index = index;
    job.started = Clock::now();
    SocketAddress server{};
    try {
      server = tftp::ResolveServer(d.host, d.port);
    } catch (const Exception& e) {
      Fail(row, e.Message(), job.started);
      return;
    }
    std::string error;
    job.temp = TempConfig::Create(dest_, d.name, error);
    if (!job.temp) {
      Fail(row, error, job.started);
      return;
    }
    tftp::TransferRequest request;
    request.kind = tftp::TransferKind::Get;
    request.remoteName = d.wireName;
    request.blockSize = d.blockSize;
    request.windowSize = d.windowSize;
    request.wait = std::chrono::milliseconds(d.timeoutMs);
    request.maxWait = std::chrono::milliseconds(
        std::max<std::uint64_t>(d.timeoutMs, std::min<std::uint64_t>(d.timeoutMs * 8ull, 60000)));
    request.retries = d.retries;
    job.transfer =
        std::make_unique<tftp::ClientTransfer>(std::move(request), server, job.temp.get(), nullptr);
    tftp::ClientTransfer& transfer = *job.transfer;
    running_.emplace(&transfer, std::move(job));
    driver.Add(transfer);
  }

  void Fail(DeviceReport& row, const std::string& why, Clock::time_point started) {
    row.result = DeviceResult::Failed;
    row.error = why;
    row.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    Counted(true);
  }

  void Finished(const tftp::ClientTransfer& transfer) {
    auto found = running_.find(&transfer);
    if (found == running_.end()) return;
    Job job = std::move(found->second);
    running_.erase(found);
    const Device& d = devices_[job.index];
    DeviceReport& row = rows_[job.index];
    const tftp::TransferOutcome& outcome = transfer.Outcome();
    row.bytes = outcome.bytes;
    row.seconds = std::chrono::duration<double>(Clock::now() - job.started).count();
    bool failed = true;
    if (outcome.state == tftp::TransferState::Succeeded) {
      SaveOutcome saved = SaveConfig(*job.temp, dest_, d.name, stamp_);
      if (saved.ok) {
        failed = false;
        row.result = saved.changed ? DeviceResult::Changed : DeviceResult::Unchanged;
        row.history = saved.historyFile;
        if (saved.changed) {
          changedFiles_.push_back(d.name + ".cfg");
          if (!saved.historyFile.empty()) changedFiles_.push_back(saved.historyFile);
        }
      } else {
        row.result = DeviceResult::Failed;
        row.error = saved.error;
      }
    } else {
      job.temp->Discard();
      row.result = cli::StopRequested() ? DeviceResult::Interrupted : DeviceResult::Failed;
      row.errorCode = outcome.peerErrorCode;
      row.error = outcome.peerErrorCode >= 0 ? ScrubbedText(outcome.peerErrorText, d.password, true)
                                             : ScrubbedText(outcome.reason, d.password, false);
    }
    Counted(failed);
    // The driver may still look at a transfer right after its report; the
    // object is freed a full round of jobs later, which keeps memory flat.
    retired_.push_back(std::move(job.transfer));
    while (retired_.size() > jobs_ + 1) retired_.pop_front();
  }

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

  const BackupOptions& options_;
  const std::vector<Device>& devices_;
  fs::path dest_;
  std::string stamp_;
  std::ostream& err_;
  std::vector<DeviceReport> rows_;
  std::map<const tftp::ClientTransfer*, Job> running_;
  std::deque<std::unique_ptr<tftp::ClientTransfer>> retired_;
  std::vector<std::string> changedFiles_;
  std::size_t jobs_ = 1, next_ = 0, done_ = 0, failedSoFar_ = 0, lastProgressWidth_ = 0;
  bool starting_ = false, showProgress_ = false;
  Clock::time_point lastProgress_{};
};

bool ReadInventory(const std::string& path, std::string& text, std::string& error) {
  std::error_code ec;
  fs::path p = PathFromUtf8(path);
  auto size = fs::file_size(p, ec);
  if (ec) return error = "cannot read inventory " + path + ": " + ec.message(), false;
  if (size > kMaxInventoryBytes) return error = "inventory " + path + " is larger than 16 MiB", false;
  std::ifstream in(p, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  if (!in && !in.eof()) return error = "cannot read inventory " + path, false;
  text = all.str();
  return true;
}

bool WriteReport(const std::string& path, const std::string& content, std::string& error) {
  fs::path p = PathFromUtf8(path);
  fs::path temp = p;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out) return error = "cannot write report " + path, false;
  }
  std::error_code ec;
  fs::rename(temp, p, ec);
  if (ec) {
    fs::remove(temp, ec);
    return error = "cannot write report " + path + ": " + ec.message(), false;
  }
  return true;
}

std::string CommitMessage(const std::vector<std::string>& names, const std::string& started) {
  std::string message = "backup " + started + ": " + std::to_string(names.size()) +
                        (names.size() == 1 ? " device changed\n\n" : " devices changed\n\n");
  for (const std::string& name : names) message += name + "\n";
  return message;
}

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
  Inventory inventory = ParseInventory(text, o.defaults);
  if (!inventory.errors.empty()) {
    for (const InventoryError& e : inventory.errors)
      err << o.inventory << ":" << e.line << ": " << e.message << '\n';
    err << "tarnwick-cli backup: " << inventory.errors.size()
        << (inventory.errors.size() == 1 ? " error" : " errors") << " in the inventory, nothing fetched\n";
    return kExitUsage;
  }
  if (inventory.holdsPasswords) {
    std::string warning = ExposedSecretsWarning(o.inventory);
    if (!warning.empty()) err << "tarnwick-cli backup: warning: " << warning << '\n';
  }

  std::error_code ec;
  const fs::path dest = PathFromUtf8(o.dest);
  fs::create_directories(dest, ec);
  if (ec || !fs::is_directory(dest, ec)) {
    err << "tarnwick-cli backup: cannot create the folder " << o.dest << '\n';
    return kExitUsage;
  }
  std::unique_ptr<GitArchive> git;
  if (o.git) {
    git = GitArchive::Open(o.dest, error);
    if (!git) {
      err << "tarnwick-cli backup: " << error << '\n';
      return kExitUsage;
    }
  }

  std::string warning;
  int jobs = FitJobsToDescriptors(o.jobs, warning);
  if (!warning.empty()) err << "tarnwick-cli backup: warning: " << warning << '\n';

  const std::time_t startedAt = std::time(nullptr);
  const std::string started = IsoTime(startedAt);
  StopPollingScope stopPolling;
  BackupRun run(o, inventory, dest, HistoryStamp(startedAt), err);
  run.Run(jobs);

  int exitCode = kExitDone;
  const RunTotals totals = CountResults(run.Rows());
  if (totals.failed || totals.interrupted || totals.notReached) exitCode = kExitFailed;
  err << run.Rows().size() << " devices, started " << started << '\n' << SummaryText(run.Rows());
  if (cli::StopRequested()) err << "tarnwick-cli backup: interrupted; devices not reached are listed above\n";

  if (git && !run.ChangedFiles().empty()) {
    if (!git->Commit(run.ChangedFiles(), CommitMessage(run.ChangedNames(), started), error)) {
      err << "tarnwick-cli backup: " << error << '\n';
      exitCode = kExitFailed;
    }
  }
  if (!o.report.empty()) {
    const bool json = ReportIsJson(o.report);
    if (!WriteReport(o.report, json ? JsonReport(run.Rows(), started) : CsvReport(run.Rows()), error)) {
      err << "tarnwick-cli backup: " << error << '\n';
      exitCode = kExitFailed;
    }
  }
  return exitCode;
}

}  // namespace tarnwick::fleet
