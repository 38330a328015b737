#include "fleet/FetchStage.h"

#include <algorithm>
#include <deque>
#include <map>

#include "tftp/ClientTransfer.h"
#include "tftp/TransferDriver.h"

namespace tarnwick::fleet {

using tftp::Clock;
using tftp::TimePoint;

namespace {

// How often the driver's loop looks at names, deadlines and new work.
constexpr std::chrono::milliseconds kLookEvery{20};
// Name lookups asked ahead of the running transfers.
constexpr std::size_t kMinLookupsAhead = 64;

std::string SecondsText(std::chrono::seconds s) { return std::to_string(s.count()) + " s"; }

// One device's fetch: it owns the transfer (which the driver may look at
// until its run ends) and the temporary file (until the file passes on).
struct Job {
  std::unique_ptr<archive::TempConfig> temp;
  std::unique_ptr<FetchSink> sink;
  std::unique_ptr<tftp::ClientTransfer> transfer;
  TimePoint started{}, deadline{};
};

class FetchRun {
 public:
  FetchRun(const std::vector<Device>& devices, const std::vector<std::size_t>& order,
           const FetchLimits& limits, archive::ConfigStore& store, LookupFunction lookup,
           const std::function<bool()>& stop, const FetchedHandler& handler,
           const std::function<void()>& idle)
      : devices_(devices),
        order_(order),
        limits_(limits),
        store_(store),
        lookup_(std::move(lookup)),
        stop_(stop),
        handler_(handler),
        idle_(idle),
        jobs_(devices.size()) {}

  void Run() {
    tftp::TransferDriver driver;
    driver.HandOffLingers();  // the run's end never waits for a courtesy
    driver.OnFinished([this, &driver](tftp::TransferDriver::TransferId id, const tftp::ClientTransfer& t) {
      Finished(id, t);
      if (!Stopped()) StartMore(driver);
    });
    StartMore(driver);
    auto look = [this, &driver] {
      if (Stopped()) return true;
      const TimePoint now = Clock::now();
      if (now - lastLook_ >= kLookEvery) {
        lastLook_ = now;
        Look(driver, now);
      }
      return false;
    };
    for (;;) {
      if (driver.Running() > 0) {
        if (!driver.Run(look, "interrupted")) break;
        continue;
      }
      if (Stopped() || (resolving_.empty() && ready_.empty() && next_ >= order_.size())) break;
      // Only names are pending: wait for an answer or the first give-up.
      auto wait = std::chrono::milliseconds(100);
      const TimePoint now = Clock::now();
      for (const auto& [index, giveUp] : resolving_)
        wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(giveUp - now));
      if (resolver_ && wait.count() > 0) resolver_->Wait(wait);
      Look(driver, Clock::now());
    }
    // Transfers are freed with the driver's last look at them, here.
  }

 private:
  bool Stopped() { return stop_ && stop_(); }

  void Look(tftp::TransferDriver& driver, TimePoint now) {
    if (resolver_) {
      for (Resolver::Answer& answer : resolver_->Take()) {
        auto found = resolving_.find(answer.ticket);
        if (found == resolving_.end()) continue;  // given up on already
        resolving_.erase(found);
        if (answer.address)
          ready_.push_back({answer.ticket, *answer.address});
        else
          Fail(answer.ticket, answer.error, true);
      }
    }
    for (auto it = resolving_.begin(); it != resolving_.end();) {
      if (now < it->second) {
        ++it;
        continue;
      }
      const std::size_t index = it->first;
      it = resolving_.erase(it);
      Fail(index,
           "cannot resolve " + devices_[index].host + ": no answer from the name service within " +
               SecondsText(ResolveLimit()),
           true);
    }
    for (const auto& [id, index] : running_) {
      Job& job = jobs_[index];
      if (now >= job.deadline && !job.transfer->Finished()) {
        tftp::Outbox unsent;  // the device learns it from its own time-out
        job.transfer->Abandon(DeadlineText(), unsent);
      }
    }
    StartMore(driver);
    if (idle_) idle_();
  }

  std::chrono::seconds ResolveLimit() const { return std::min(limits_.resolveLimit, limits_.deadline); }
  std::string DeadlineText() const {
    return "no complete file within the deadline of " + SecondsText(limits_.deadline) + " (--deadline)";
  }

  void StartMore(tftp::TransferDriver& driver) {
    const std::size_t jobs = static_cast<std::size_t>(std::max(limits_.jobs, 1));
    const std::size_t ahead = std::max(kMinLookupsAhead, 2 * jobs);
    while (running_.size() < jobs && !Stopped()) {
      if (!ready_.empty()) {
        auto [index, address] = ready_.front();
        ready_.pop_front();
        Start(driver, index, address);
        continue;
      }
      if (next_ >= order_.size()) break;
      const std::size_t index = order_[next_];
      const Device& d = devices_[index];
      if (std::optional<SocketAddress> literal = LiteralAddress(d.host, d.port)) {
        ++next_;
        Begin(index);
        Start(driver, index, *literal);
        continue;
      }
      if (resolving_.size() >= ahead) break;
      ++next_;
      Begin(index);
      if (!resolver_) resolver_ = std::make_unique<Resolver>(lookup_, limits_.resolverThreads);
      resolving_[index] = Clock::now() + ResolveLimit();
      resolver_->Ask(index, d.host, d.port);
    }
  }

  void Begin(std::size_t index) {
    Job& job = jobs_[index];
    job.started = Clock::now();
    job.deadline = job.started + limits_.deadline;
  }

  void Start(tftp::TransferDriver& driver, std::size_t index, const SocketAddress& server) {
    const Device& d = devices_[index];
    Job& job = jobs_[index];
    std::string error;
    job.temp = store_.NewTemp(d.name, error);
    if (!job.temp) return Fail(index, error);
    job.sink = std::make_unique<FetchSink>(*job.temp, limits_.maxBytes, job.deadline, DeadlineText());
    tftp::TransferRequest request;
    request.kind = tftp::TransferKind::Get;
    request.remoteName = d.wireName;
    request.blockSize = d.blockSize;
    request.windowSize = d.windowSize;
    request.transferSize = d.tsize;
    request.wait = std::chrono::milliseconds(d.timeoutMs);
    request.maxWait = std::chrono::milliseconds(
        std::max<std::uint64_t>(d.timeoutMs, std::min<std::uint64_t>(d.timeoutMs * 8ull, 60000)));
    request.retries = d.retries;
    job.transfer =
        std::make_unique<tftp::ClientTransfer>(std::move(request), server, job.sink.get(), nullptr);
    running_[driver.Add(*job.transfer)] = index;
  }

  void Fail(std::size_t index, const std::string& why, bool network = false) {
    Fetched fetched;
    fetched.error = why;
    fetched.network = network;
    fetched.seconds = std::chrono::duration<double>(Clock::now() - jobs_[index].started).count();
    handler_(index, fetched);
  }

  void Finished(tftp::TransferDriver::TransferId id, const tftp::ClientTransfer& transfer) {
    auto found = running_.find(id);
    if (found == running_.end()) return;
    const std::size_t index = found->second;
    running_.erase(found);
    Job& job = jobs_[index];
    const tftp::TransferOutcome& outcome = transfer.Outcome();
    Fetched fetched;
    fetched.bytes = outcome.bytes;
    fetched.seconds = std::chrono::duration<double>(Clock::now() - job.started).count();
    if (outcome.agreed.negotiated) fetched.announced = outcome.agreed.transferSize;
    if (outcome.state == tftp::TransferState::Succeeded) {
      fetched.complete = true;
      fetched.temp = std::move(job.temp);
    } else {
      fetched.interrupted = Stopped();
      fetched.errorCode = outcome.peerErrorCode;
      fetched.error = outcome.peerErrorCode >= 0 ? outcome.peerErrorText : outcome.reason;
      // Our own refusal says more than the engine's word for a failed write.
      if (!job.sink->Refusal().empty()) fetched.error = job.sink->Refusal();
      fetched.network = !fetched.interrupted && outcome.peerErrorCode < 0 && job.sink->Refusal().empty() &&
                        !outcome.localFileFailed && outcome.bytes == 0;
      job.temp.reset();
    }
    job.sink->Detach();
    handler_(index, fetched);
  }

  const std::vector<Device>& devices_;
  const std::vector<std::size_t>& order_;
  const FetchLimits& limits_;
  archive::ConfigStore& store_;
  LookupFunction lookup_;
  const std::function<bool()>& stop_;
  const FetchedHandler& handler_;
  const std::function<void()>& idle_;
  std::vector<Job> jobs_;
  std::map<tftp::TransferDriver::TransferId, std::size_t> running_;
  std::map<std::size_t, TimePoint> resolving_;  // device -> when its name is given up
  std::deque<std::pair<std::size_t, SocketAddress>> ready_;
  std::unique_ptr<Resolver> resolver_;
  std::size_t next_ = 0;
  TimePoint lastLook_{};
};

}  // namespace

FetchSink::FetchSink(archive::TempConfig& temp, std::uint64_t maxBytes, TimePoint deadline,
                     std::string deadlineText)
    : temp_(&temp), maxBytes_(maxBytes), deadline_(deadline), deadlineText_(std::move(deadlineText)) {}

bool FetchSink::Write(std::string_view bytes) {
  if (!temp_) return false;
  if (bytes.size() > maxBytes_ - temp_->Bytes()) {
    refusal_ = "more than " + std::to_string(maxBytes_) + " bytes (--max-bytes): the transfer was stopped";
    return false;
  }
  if (Clock::now() >= deadline_) {
    refusal_ = deadlineText_;
    return false;
  }
  return temp_->Write(bytes);
}

std::string FetchSink::WriteFailure() const {
  if (!refusal_.empty()) return refusal_;
  return temp_ ? temp_->WriteFailure() : std::string();
}

bool FetchSink::DiskFull() const { return refusal_.empty() && temp_ && temp_->DiskFull(); }

void RunFetchStage(const std::vector<Device>& devices, const std::vector<std::size_t>& order,
                   const FetchLimits& limits, archive::ConfigStore& store, LookupFunction lookup,
                   const std::function<bool()>& stopRequested, const FetchedHandler& handler,
                   const std::function<void()>& idle) {
  FetchRun(devices, order, limits, store, std::move(lookup), stopRequested, handler, idle).Run();
}

}  // namespace tarnwick::fleet
