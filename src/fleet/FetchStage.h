// The fetch stage: every device's transfer on one driver thread, at most
// `jobs` at once, names resolved off the thread (Resolver), each device
// held to its deadline and its size cap. Each device's job owns its
// transfer and its temporary file; a complete file passes to the caller
// (validate, then store), anything else is removed with the job's reason.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/ConfigStore.h"
#include "fleet/Inventory.h"
#include "fleet/Resolver.h"

namespace tarnwick::fleet {

struct FetchLimits {
  int jobs = 32;
  // From the device's start (its name lookup included) to its last block.
  std::chrono::seconds deadline{600};
  std::uint64_t maxBytes = 64ull << 20;
  // A name the name service has not answered by then fails its device.
  std::chrono::seconds resolveLimit{30};
  std::size_t resolverThreads = 16;
};

// How one device's fetch ended.
struct Fetched {
  bool complete = false;
  bool interrupted = false;
  std::unique_ptr<archive::TempConfig> temp;  // the whole file, when complete
  std::uint64_t bytes = 0;
  std::optional<std::uint64_t> announced;  // tsize, when the device sent one
  int errorCode = -1;                      // the device's ERROR code, -1 for none
  std::string error;                       // the device's text as sent (CP932), or our reason (UTF-8)
  double seconds = 0;
  // It failed for a network reason (its name did not resolve, nothing ever
  // came back): worth another try later in the run.
  bool network = false;
};

// Reports a finished device (on the driver thread); the handler may keep
// fetched.temp.
using FetchedHandler = std::function<void(std::size_t device, Fetched& fetched)>;

// Fetches devices[i] for each i of order, in that order; stops early when
// stopRequested() says so (running transfers are abandoned and reported as
// interrupted, the rest is never reported). idle, when given, is called on
// the driver thread at least every 100 ms whatever the transfers do, so
// work handed off elsewhere (a flush) is finished without waiting for the
// next device to end.
void RunFetchStage(const std::vector<Device>& devices, const std::vector<std::size_t>& order,
                   const FetchLimits& limits, archive::ConfigStore& store, LookupFunction lookup,
                   const std::function<bool()>& stopRequested, const FetchedHandler& handler,
                   const std::function<void()>& idle = {});

// The sink a transfer writes through: the temporary file, refused past the
// size cap or the deadline so an endless or trickling device stops there.
class FetchSink : public tftp::FileSink {
 public:
  FetchSink(archive::TempConfig& temp, std::uint64_t maxBytes, tftp::TimePoint deadline,
            std::string deadlineText);
  bool Write(std::string_view bytes) override;
  std::string WriteFailure() const override;
  bool DiskFull() const override;
  // Our own refusal (cap, deadline), else empty.
  const std::string& Refusal() const { return refusal_; }
  // The file went to the store or away: nothing more may be written.
  void Detach() { temp_ = nullptr; }

 private:
  archive::TempConfig* temp_;
  std::uint64_t maxBytes_;
  tftp::TimePoint deadline_;
  std::string deadlineText_, refusal_;
};

}  // namespace tarnwick::fleet
