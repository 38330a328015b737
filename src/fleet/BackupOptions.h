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
  std::string gitBranch;             // --git-branch; empty: the branch checked out
  std::string gitPush;               // --git-push REMOTE; empty: no push
  std::vector<std::string> reports;  // each .json, .csv or .html
  std::string metrics;               // FILE.prom, empty for none
  bool progress = true;
  bool help = false;
  DeviceDefaults defaults;
  std::uint64_t maxBytes = 64ull << 20;  // one device's file, past it the transfer stops
  std::uint32_t deadlineSeconds = 600;   // one device, name lookup to last block
  int staleHours = 48;
  std::vector<std::string> ignore;  // --ignore REGEX, compiled by the command
  std::vector<std::string> secret;  // --secret REGEX, compiled by the command
  std::string ignoreFile;
  int rounds = 2;                 // later rounds for devices that failed for a network reason
  std::vector<std::string> only;  // NAME or GLOB
  std::string retryFailed;        // an earlier JSON report
  bool diff = false;
  bool prune = false;
  bool pruneForce = false;  // --prune-force: --prune past its limit
  std::string onChange, onFailure, onDone, onChangeBatch;
  std::uint32_t hookTimeoutSeconds = 60;
  bool quiet = false;
  bool check = false;
  std::size_t keep = 0;  // history copies per device, 0 for all
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
// --report FILE.html (or .htm): the morning page.
bool ReportIsHtml(const std::string& path);

// NAME matches GLOB: '*' any run of characters, '?' one byte, the rest as
// written.
bool GlobMatches(const std::string& glob, const std::string& name);

}  // namespace tarnwick::fleet
