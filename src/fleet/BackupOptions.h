// Command line of `tarnwick-cli backup INVENTORY --dest DIR [options]`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fleet/Inventory.h"

namespace tarnwick::fleet {

constexpr int kDefaultJobs = 32;

struct BackupOptions {
  std::string inventory;
  std::string dest;
  int jobs = kDefaultJobs;
  bool git = false;
  std::string report;  // .json or .csv, empty for none
  bool progress = true;
  bool help = false;
  DeviceDefaults defaults;
  std::uint64_t maxBytes = 64ull << 20;  // one device's file, past it the transfer stops
  std::uint32_t deadlineSeconds = 600;   // one device, name lookup to last block
};

struct BackupParse {
  bool ok = false;
  BackupOptions options;
  std::string error;
};

// args: what follows "backup". gitAvailable is false in builds without
// libgit2, where --git is refused as a usage error.
BackupParse ParseBackupArguments(const std::vector<std::string>& args, bool gitAvailable);

std::string BackupUsageText();

// --report FILE: JSON when the name ends in .json (any case), else CSV.
bool ReportIsJson(const std::string& path);

}  // namespace tarnwick::fleet
