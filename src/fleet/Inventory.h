// The backup inventory: one device a row, read from CSV with a header row
// (name,host,port,remote,password,delimiter and the optional
// blksize,windowsize,timeout,retries). Every fault is collected with its line
// number so the whole file can be fixed in one pass; nothing is fetched from
// an inventory with faults.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::fleet {

// What an empty cell means (the command's own options).
struct DeviceDefaults {
  std::string port = "69";
  std::string delimiter = "/";
  // The first wait of tarnwick-cli get and put, doubled after each
  // time-out in a row.
  std::uint32_t timeoutMs = 1000;
  int retries = 5;
};

struct Device {
  int line = 0;
  std::string name;  // UTF-8; the saved file is <name>.cfg
  std::string host;
  std::string port;
  std::string remote;    // the file-name part as written (UTF-8), for messages
  std::string wireName;  // CP932 request name with the password: never shown
  std::string password;  // as written, only to scrub it from device messages
  std::optional<std::uint32_t> blockSize;
  std::optional<std::uint32_t> windowSize;
  std::uint32_t timeoutMs = 1000;
  int retries = 5;
};

struct InventoryError {
  int line = 0;
  std::string message;  // printable, never holds a password
};

struct Inventory {
  std::vector<Device> devices;
  std::vector<InventoryError> errors;
  bool holdsPasswords = false;
};

Inventory ParseInventory(std::string_view text, const DeviceDefaults& defaults);

// Empty when name can be a file name on every system the program runs on,
// else why not.
std::string DeviceNameFault(std::string_view name);

// Bytes below 32, 127 and '\\' escaped as \xNN so a message cannot move the
// cursor or fake lines.
std::string Printable(std::string_view text);

}  // namespace tarnwick::fleet
