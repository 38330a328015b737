#include "fleet/DeviceRounds.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>

#include "archive/Archive.h"
#include "archive/ConfigStore.h"
#include "archive/Flusher.h"
#include "archive/SecretMask.h"
#include "archive/UnifiedDiff.h"
#include "archive/Validate.h"
#include "cliutil/Console.h"
#include "fleet/BackupPlatform.h"
#include "fleet/BackupReport.h"
#include "fleet/FetchStage.h"
#include "fleet/Inventory.h"
#include "fleet/NightlyRun.h"
#include "fleet/Resolver.h"

namespace tarnwick::fleet {

using tftp::Clock;

namespace {

// Flushes under way at once; the file system commits them together.
constexpr std::size_t kFlushThreads = 8;

class BackupRun {
 public:
  BackupRun(const std::vector<Device>& devices, const std::vector<IgnoreRuleList>& rules, bool wantDiff,
            const archive::SecretMask& mask, archive::ConfigStore& store, archive::Archive& archive,
            bool progress, std::ostream& err, std::map<std::string, std::string> unannounced)
      : devices_(devices),
        rules_(rules),
        unannounced_(std::move(unannounced)),
        wantDiff_(wantDiff),
        mask_(mask),
        store_(store),
        archive_(archive),
        err_(err) {
    rows_.resize(devices_.size());
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      const Device& d = devices_[i];
      DeviceReport& row = rows_[i];
      row.line = d.line;
      row.name = d.name;
      row.pushOnly = d.PushOnly();
      row.pushes = !d.push.empty();
      if (!d.host.empty()) row.host = d.host + ":" + d.port;
      if (!d.fault.empty()) {
        row.result = DeviceResult::Failed;
        row.faultyRow = true;
        row.error = "inventory line " + std::to_string(d.line) + ": " + d.fault;
        ++done_;
        ++failedSoFar_;
      } else if (!d.enabled) {
        row.result = DeviceResult::Disabled;
        ++done_;
      } else if (d.PushOnly()) {
        // Never fetched; the state tells later whether a push came.
        row.result = DeviceResult::NotPushed;
        ++done_;
      } else {
        order_.push_back(i);
      }
    }
    showProgress_ = progress && cli::StandardErrorIsTerminal();
  }

  // The first round takes every device; each later one the devices that
  // failed for a network reason, after everyone else had their turn (a
  // switch rebooting at 01:00 is back by the end of the run).
  void Run(const FetchLimits& limits, int laterRounds) {
    jobs_ = static_cast<std::size_t>(std::max(limits.jobs, 1));
    std::vector<std::size_t> order = order_;
    for (int round = 0; !order.empty(); ++round) {
      RunFetchStage(
          devices_, order, limits, store_, SystemLookup(), [] { return cli::StopRequested(); },
          [this](std::size_t index, Fetched& fetched) { Fetched_(index, fetched); },
          // A file whose flush came back goes into place now, not when the
          // next device ends: behind a row of dead names that is seconds in
          // which a kill would lose it.
          [this] { StoreFlushed(); });
      // Complete files still being flushed are stored, stopped run or not.
      while (!flushing_.empty()) {
        flusher_.WaitForOne();
        StoreFlushed();
      }
      order.clear();
      if (round >= laterRounds || cli::StopRequested()) break;
      for (std::size_t index : order_) {
        DeviceReport& row = rows_[index];
        if (row.result != DeviceResult::Failed || !row.network) continue;
        order.push_back(index);
        DeviceReport fresh;
        fresh.name = row.name;
        fresh.host = row.host;
        fresh.line = row.line;
        row = std::move(fresh);
        --done_;
        --failedSoFar_;
      }
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
      row.network = fetched.network;
      row.errorCode = fetched.errorCode;
      // A device's own error text may quote anything.
      row.error = mask_.Message(ScrubbedText(fetched.error, Fields(d), fetched.errorCode >= 0));
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
    if (store_.SameAsSaved(*fetched.temp, d.name) || OnlyIgnoredChanged(index, *fetched.temp, row)) {
      row.result = DeviceResult::Unchanged;
      row.file = d.name + ".cfg";
      row.diff.clear();
      fetched.temp.reset();
      AnnounceLeftOver(index, row);
      return Counted(false);
    }
    archive::TempConfig& temp = *(flushing_[index] = std::move(fetched.temp));
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

  // A copy that differs from the saved one: the same once the device's
  // ignore rules drop their lines? On the way, the diff when one is wanted.
  // Only changed copies get here, most nights a few.
  bool OnlyIgnoredChanged(std::size_t index, archive::TempConfig& temp, DeviceReport& row) {
    const IgnoreRuleList& rules = rules_[index];
    if (rules.empty() && !wantDiff_) return false;
    const archive::DiffLimits limits;
    std::string before, after, error;
    bool missing = false;
    const std::string& name = devices_[index].name;
    if (!store_.ReadFile(name + ".cfg", limits.maxBytes, before, missing, error) || missing) return false;
    if (!archive::ConfigStore::ReadTemp(temp, limits.maxBytes, after)) return false;
    if (!rules.empty() && Equivalent(before, after, rules, [] { return cli::StopRequested(); })) return true;
    if (wantDiff_) row.diff = Diff(index, before, after);
    return false;
  }

  std::string Diff(std::size_t index, const std::string& before, const std::string& after) const {
    const IgnoreRuleList& rules = rules_[index];
    const archive::HiddenChange hidden = [&rules](std::string_view line) {
      return IsIgnoredLine(line, rules);
    };
    return mask_.Diff(WithoutPasswords(
        archive::UnifiedDiff(before, after, devices_[index].name, archive::DiffLimits(), hidden), devices_));
  }

  // A copy the same as the saved one, which a run that never finished put
  // there: its change was never announced, so it is now -- as changed, with
  // the diff against the copy it replaced.
  void AnnounceLeftOver(std::size_t index, DeviceReport& row) {
    auto found = unannounced_.find(devices_[index].name);
    if (found == unannounced_.end()) return;
    row.history = found->second;
    row.result = row.history.empty() ? DeviceResult::New : DeviceResult::Changed;
    if (!wantDiff_ || row.history.empty()) return;
    const archive::DiffLimits limits;
    std::string before, after, error;
    bool missing = false;
    if (store_.ReadFile(row.history, limits.maxBytes, before, missing, error) && !missing &&
        store_.ReadFile(row.file, limits.maxBytes, after, missing, error) && !missing)
      row.diff = Diff(index, before, after);
  }

  // The validate step; a refused copy leaves the saved one as it was.
  std::string Validate(const Device& d, DeviceReport& row, archive::TempConfig& temp,
                       std::optional<std::uint64_t> announced) {
    archive::Candidate pulled;
    pulled.device = d.name;
    pulled.from = d.host;
    pulled.rules.minRatio = d.minRatio;
    pulled.rules.expect = d.expect;
    pulled.announced = d.tsize ? announced : std::nullopt;
    archive::Outcome outcome;
    const std::string error = archive_.Check(
        pulled, temp, [] { return cli::StopRequested(); }, outcome);
    if (outcome.fate == archive::Fate::Refused) {
      row.refused = true;
      if (outcome.previousKept) row.file = d.name + ".cfg";
    }
    return error;
  }

  // Files whose flush came back go into place now.
  void StoreFlushed() {
    for (archive::Flusher::Done& done : flusher_.Take()) {
      const std::size_t index = done.ticket;
      std::unique_ptr<archive::TempConfig> temp = std::move(flushing_[index]);
      flushing_.erase(index);
      const Device& d = devices_[index];
      DeviceReport& row = rows_[index];
      std::string error = done.error;
      if (error.empty()) {
        const archive::Outcome placed = archive_.Place(d.name, *temp);
        error = placed.reason;
        if (placed.fate != archive::Fate::Failed) {
          row.result = ResultOf(placed.fate);
          row.history = placed.history;
          row.file = d.name + ".cfg";
        }
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
    if (failed && testKill_.AfterFailure()) EndProcessAtOnce();
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
  const std::vector<IgnoreRuleList>& rules_;
  const std::map<std::string, std::string> unannounced_;  // name -> the copy it replaced ("" for none)
  bool wantDiff_;
  const archive::SecretMask& mask_;  // every text shown passes through it
  archive::ConfigStore& store_;
  archive::Archive& archive_;
  std::ostream& err_;
  std::vector<DeviceReport> rows_;
  std::vector<std::size_t> order_;
  std::map<std::size_t, std::unique_ptr<archive::TempConfig>> flushing_;
  std::size_t jobs_ = 1;
  archive::Flusher flusher_{kFlushThreads};  // after flushing_: stops before those files go
  std::size_t done_ = 0, failedSoFar_ = 0, lastProgressWidth_ = 0;
  bool showProgress_ = false;
  Clock::time_point lastProgress_{};
  TestKillPoint testKill_ = TestKillPoint::FromEnvironment();
};

}  // namespace

std::vector<DeviceReport> RunDeviceRounds(const std::vector<Device>& devices,
                                          const std::vector<IgnoreRuleList>& rules, bool wantDiff,
                                          const archive::SecretMask& mask, archive::ConfigStore& store,
                                          archive::Archive& archive, bool progress, std::ostream& err,
                                          std::map<std::string, std::string> unannounced,
                                          const FetchLimits& limits, int laterRounds) {
  BackupRun run(devices, rules, wantDiff, mask, store, archive, progress, err, std::move(unannounced));
  run.Run(limits, laterRounds);
  return run.Rows();
}

}  // namespace tarnwick::fleet
