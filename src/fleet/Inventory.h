// The backup inventory: one device a row, read from CSV with a header row
// (name,host,port,remote,password,delimiter and the optional
// blksize,windowsize,timeout,retries,tsize,min_ratio,expect,ignore,enabled,push). A
// row with a push name and no remote is push-only: the device uploads its
// configuration to serve --archive and backup never fetches it. Inventories
// come from CMDB exports nobody checked: a faulty row fails that device only
// (with its line number), columns we do not know are ignored, and only a
// file without a usable header stops the run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Pattern.h"

namespace tarnwick::fleet {

// What an empty cell means (the command's own options).
struct DeviceDefaults {
  std::string port = "69";
  std::string delimiter = "/";
  // The first wait of tarnwick-cli get and put, doubled after each
  // time-out in a row.
  std::uint32_t timeoutMs = 1000;
  int retries = 5;
  bool tsize = true;
  double minRatio = 0.5;
  std::string expect;  // ECMAScript regular expression, empty for none
};

struct Device {
  int line = 0;
  std::string name;  // UTF-8; the saved file is <name>.cfg
  std::string host;
  std::string port;
  std::string remote;    // the file-name part as written (UTF-8), for messages
  std::string wireName;  // CP932 request name with the password: never shown
  std::string password;  // as written, only to scrub it from device messages
  std::string delimiter;
  std::optional<std::uint32_t> blockSize;
  std::optional<std::uint32_t> windowSize;
  std::uint32_t timeoutMs = 1000;
  int retries = 5;
  bool tsize = true;  // ask for the size, so a cut-off file is caught
  double minRatio = 0.5;
  std::optional<archive::Pattern> expect;
  // The named set of the ignore file whose rules apply to this device
  // (empty for none); checked against the file by the command.
  std::string ignoreSet;
  bool enabled = true;  // "no": kept in the inventory, never fetched
  std::string push;     // the name or glob it may upload to serve --archive; empty: never
  bool PushOnly() const { return !push.empty() && remote.empty(); }
  // Why this row cannot be fetched (printable, never holds a password);
  // empty for a good row. Such a device fails, the others run.
  std::string fault;
};

struct InventoryError {
  int line = 0;
  std::string message;  // printable, never holds a password
};

struct Inventory {
  std::vector<Device> devices;         // every row, faulty ones with their fault
  std::vector<InventoryError> errors;  // every fault, in line order
  std::vector<std::string> warnings;   // columns ignored, each named once
  bool usable = true;                  // false: no usable header or no row, nothing runs
  bool holdsPasswords = false;
};

Inventory ParseInventory(std::string_view text, const DeviceDefaults& defaults);

// "0", "0.5", "1": a fraction from 0 to 1 (min_ratio, --min-ratio).
bool ParseRatio(const std::string& text, double& out);

// Empty when pattern compiles (Pattern.h), else why not; the compiled
// pattern goes to `compiled` when one is given.
std::string PatternFault(const std::string& pattern, archive::Pattern* compiled = nullptr);

// Empty when name can be a file name on every system the program runs on,
// else why not.
std::string DeviceNameFault(std::string_view name);

// The push cell resolved: empty or "no" (any case) never uploads, "yes"
// (any case) is "<name>.cfg", anything else is the name or glob as written
// ('*' and '?' as GlobMatches reads them). `fault` says why a cell is
// unusable.
std::string ResolvePush(const std::string& cell, const std::string& name, std::string& fault);

// Bytes below 32, 127 and '\\' escaped as \xNN so a message cannot move the
// cursor or fake lines.
std::string Printable(std::string_view text);

}  // namespace tarnwick::fleet
