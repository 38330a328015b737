// Starts tarnwick-fleet-sim with a table of devices, learns their loopback
// addresses and ports, and stops it by its PID, collecting what each device
// saw (requests, completed transfers, ERROR 5 answers to its stray port).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarnwick::fleet_sim {

struct SimDevice {
  std::string name;
  std::string behaviour = "good";
  std::uint64_t size = 1000;
  std::uint32_t version = 1;
  std::string remote = "startup.cfg";
  std::string password;  // the simulator expects remote + "/" + password
  // blksize,windowsize,timeout,retries,tsize,min_ratio,expect in the
  // inventory (trailing empty cells may be left out).
  std::string extraCells = ",,,,";
  // Filled in once the simulator runs.
  std::string address;
  std::uint16_t port = 0;
};

struct SimStats {
  unsigned requests = 0, done = 0, strayError5 = 0;
};

class FleetSim {
 public:
  FleetSim(std::vector<SimDevice>& devices, const std::string& scratch);
  ~FleetSim();
  FleetSim(const FleetSim&) = delete;
  FleetSim& operator=(const FleetSim&) = delete;

  const std::string& Error() const { return error_; }  // empty when it runs
  std::map<std::string, SimStats> Stop();

 private:
  std::string error_, statsPath_;
  long pid_ = 0;
};

// The inventory for these devices (header and one row each).
std::string InventoryFor(const std::vector<SimDevice>& devices);

// Runs a command line (through /bin/sh) and collects stderr+stdout.
struct ProcessResult {
  int status = -1;
  std::string output;
};
// seen: the output so far, each time more arrives.
ProcessResult RunCommand(const std::string& command,
                         const std::function<void(const std::string&)>& seen = {});

}  // namespace tarnwick::fleet_sim
