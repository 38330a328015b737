#include "serve/PushArchiver.h"

#include <algorithm>
#include <memory>

#include "archive/Archive.h"
#include "archive/ConfigStore.h"
#include "archive/GitArchive.h"
#include "archive/RunState.h"
#include "fleet/BackupReport.h"

namespace tarnwick::serve {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Pushes stored under one hold of DEST's lock: a burst of a whole fleet is
// a few batches, and a backup waiting its turn waits for one at most.
constexpr std::size_t kBatch = 500;
// Between two batches DEST is left free this long, so a backup waiting for
// it (it tries every kLockRetry) gets its turn under a steady stream of
// pushes, and what arrives meanwhile joins the next batch.
constexpr std::chrono::milliseconds kTurnGap = 5 * archive::kLockRetry;

bool Saved(archive::Fate fate) { return fate == archive::Fate::New || fate == archive::Fate::Changed; }

struct Handled {
  SpoolEntry entry;
  archive::Outcome outcome;
};

// "core-sw01: pushed from 192.0.2.10" for one; for a burst, the count and
// a line per device.
std::string CommitMessage(const std::vector<Handled>& handled) {
  std::vector<std::string> lines;
  for (const Handled& h : handled)
    if (Saved(h.outcome.fate)) lines.push_back(h.entry.device + ": pushed from " + h.entry.from);
  if (lines.size() == 1) return lines.front() + "\n";
  if (lines.empty()) return "pushes: the saved configurations as they stand\n";
  std::string message = "pushes: " + std::to_string(lines.size()) + " configurations saved\n\n";
  for (const std::string& line : lines) message += line + "\n";
  return message;
}

fleet::DeviceReport HookRow(const Handled& h) {
  fleet::DeviceReport row;
  row.name = h.entry.device;
  row.host = h.entry.from;
  const archive::Fate fate = h.outcome.fate;
  row.result = fleet::ResultOf(fate);
  row.refused = fate == archive::Fate::Refused;
  row.error = h.outcome.reason;
  row.history = h.outcome.history;
  if (fate != archive::Fate::Failed) row.file = h.entry.device + ".cfg";
  return row;
}

}  // namespace

PushArchiver::PushArchiver(ArchiverSettings settings, const PushSpool& spool, Reporter report, Notice notice)
    : settings_(std::move(settings)), spool_(spool), report_(std::move(report)), notice_(std::move(notice)) {}

PushArchiver::~PushArchiver() {
  if (thread_.joinable()) Finish(std::chrono::milliseconds(0));
}

void PushArchiver::UseInventory(std::vector<fleet::Device> devices) {
  auto shared = std::make_shared<const std::vector<fleet::Device>>(std::move(devices));
  std::lock_guard<std::mutex> hold(mutex_);
  devices_ = std::move(shared);
}

void PushArchiver::Start() { thread_ = std::thread([this] { Run(); }); }

void PushArchiver::Arrived() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    arrived_ = true;
  }
  wake_.notify_one();
}

void PushArchiver::Finish(std::chrono::milliseconds within) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    finishing_ = true;
    finishBy_ = SteadyClock::now() + within;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void PushArchiver::Run() {
  const auto giveUp = [this] {
    std::lock_guard<std::mutex> hold(mutex_);
    return finishing_ && SteadyClock::now() >= finishBy_;
  };
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    // Woken by an arrival, or after a while to retry what could not be
    // stored (DEST full, unreadable for a moment).
    wake_.wait_for(hold, settings_.retry, [this] { return arrived_ || finishing_; });
    const bool finishing = finishing_;
    arrived_ = false;
    hold.unlock();
    // A burst larger than a batch is taken batch after batch.
    Batch batch = Batch::Full;
    while (batch == Batch::Full && !giveUp()) {
      batch = StoreWaiting(giveUp);
      if (batch != Batch::NotStored && !finishing) std::this_thread::sleep_for(kTurnGap);
    }
    hold.lock();
    if (finishing) return;
  }
}

PushArchiver::Batch PushArchiver::StoreWaiting(const std::function<bool()>& giveUp) {
  std::vector<SpoolEntry> waiting = spool_.Waiting();
  if (waiting.empty()) return Batch::Done;
  const bool full = waiting.size() > kBatch;
  if (full) waiting.resize(kBatch);

  // DEST, waiting our turn while a backup holds it.
  std::unique_ptr<archive::ConfigStore> store;
  bool told = false;
  for (;;) {
    archive::DestOpening opening;
    store = archive::ConfigStore::Open(settings_.dest, settings_.runInfo, opening, settings_.lockSlice);
    if (store) break;
    if (!opening.busy) {
      notice_("cannot store " + std::to_string(waiting.size()) + " pushes, they wait in the spool: " +
              opening.error);
      return Batch::NotStored;
    }
    if (!told) notice_(opening.error + "; " + std::to_string(waiting.size()) + " pushes wait their turn");
    told = true;
    if (giveUp()) return Batch::NotStored;
  }

  // The state is read whole or not written at all: a write from a state
  // that could not be read would forget every other device.
  archive::RunState state;
  std::string bytes, error;
  bool missing = false;
  if (!store->ReadFile(archive::kStateFileName, archive::kMaxStateBytes, bytes, missing, error)) {
    notice_("cannot store pushes, they wait in the spool: " + error);
    return Batch::NotStored;
  }
  if (!missing) {
    archive::ParsedRunState parsed = archive::ParseRunState(bytes);
    for (const std::string& warning : parsed.warnings) notice_(std::string(archive::kStateFileName) + ": " + warning);
    state = std::move(parsed.state);
  }
  std::shared_ptr<const std::vector<fleet::Device>> devices;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    devices = devices_;
  }

  std::vector<Handled> handled;
  for (const SpoolEntry& entry : waiting) {
    Handled h{entry, {}};
    archive::Candidate candidate;
    candidate.device = entry.device;
    candidate.origin = archive::Origin::Pushed;
    candidate.from = entry.from;
    const fleet::Device* device = nullptr;
    if (devices)
      for (const fleet::Device& d : *devices)
        if (d.name == entry.device) device = &d;
    if (device) {
      candidate.rules.minRatio = device->minRatio;
      candidate.rules.expect = device->expect;
    }
    archive::Archive archive(*store, archive::HistoryStamp(static_cast<std::time_t>(entry.unixMs / 1000)));
    std::unique_ptr<archive::TempConfig> temp;
    if (!fleet::DeviceNameFault(entry.device).empty()) {
      h.outcome.fate = archive::Fate::Refused;
      h.outcome.reason = "not a device's name";
    } else if (!spool_.Read(entry, settings_.maxBytes, bytes, h.outcome.reason)) {
      h.outcome.fate = archive::Fate::Failed;
    } else if (!(temp = store->NewTemp(entry.device, h.outcome.reason))) {
      h.outcome.fate = archive::Fate::Failed;
    } else if (!temp->Write(bytes)) {
      h.outcome.fate = archive::Fate::Failed;
      h.outcome.reason = temp->WriteFailure();
    } else {
      h.outcome = archive.Offer(candidate, std::move(temp), [] { return false; });
    }
    // A failure of DEST's is ours, not the device's: its push stays in the
    // spool and is stored on a later try.
    if (h.outcome.fate != archive::Fate::Failed) {
      const bool ok = h.outcome.fate != archive::Fate::Refused;
      archive::RecordPush(state, entry.device, entry.unixMs / 1000, ok, Saved(h.outcome.fate),
                          ok ? std::string() : h.outcome.reason, entry.from);
    }
    handled.push_back(std::move(h));
  }
  if (!store->WriteAtomically(archive::kStateFileName, archive::SerializeRunState(state), error))
    notice_(error);
  if (!store->SyncFolders(error)) notice_(error);
  // Stored (or turned away) for good: out of the spool before the commit,
  // so a crash in between never stores an older push over a newer one.
  bool progressed = false;
  for (const Handled& h : handled)
    if (h.outcome.fate != archive::Fate::Failed) {
      spool_.Remove(h.entry);
      progressed = true;
    }

  ArchiveRecord commitRecord;
  if (settings_.git) {
    std::string warning;
    std::unique_ptr<archive::GitArchive> git = archive::GitArchive::Open(settings_.dest, error);
    archive::Archive archive(*store, "");
    bool committed = false;
    if (git) {
      if (!settings_.gitBranch.empty()) git->UseBranch(settings_.gitBranch);
      archive.UseGit(git.get(), settings_.gitPush);
      committed = archive.Commit(CommitMessage(handled), commitRecord.commit, error, warning);
    }
    commitRecord.unixMs = UnixMsNow();
    commitRecord.result = !committed                   ? "failed"
                          : commitRecord.commit.empty() ? "nothing to commit"
                                                        : "committed";
    commitRecord.reason = committed ? warning : error;
  }
  store.reset();  // DEST is free for a backup again

  std::vector<fleet::DeviceReport> rows;
  for (const Handled& h : handled) {
    ArchiveRecord r;
    r.unixMs = UnixMsNow();
    r.device = h.entry.device;
    r.from = h.entry.from;
    r.result = archive::FateName(h.outcome.fate);
    r.history = h.outcome.history;
    r.reason = h.outcome.reason;
    if (r.reason.rfind("refused: ", 0) == 0) r.reason.erase(0, 9);  // the result says it already
    if (h.outcome.fate == archive::Fate::Failed) r.reason += "; it waits in the spool";
    report_(r);
    rows.push_back(HookRow(h));
  }
  if (settings_.git) report_(commitRecord);
  fleet::RunFacts facts;
  facts.archive.commit = commitRecord.commit;
  std::vector<std::string> secrets;
  if (devices)
    for (const fleet::Device& d : *devices)
      if (!d.password.empty()) secrets.push_back(d.password);
  for (const std::string& failure :
       fleet::RunEventHooks(settings_.hooks, rows, facts, secrets, settings_.dest, "", ""))
    notice_("hook failed: " + failure);
  // A full batch that stored nothing would only fail again at once.
  return full && progressed ? Batch::Full : Batch::Done;
}

}  // namespace tarnwick::serve
