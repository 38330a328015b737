// What a backup run reports per device: the summary on stderr and the same
// rows as JSON or CSV for --report. Text here is UTF-8 and holds no
// password (device messages are scrubbed before they get here).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::fleet {

enum class DeviceResult { Changed, Unchanged, Failed, Interrupted, NotReached };

const char* ResultName(DeviceResult result);

struct DeviceReport {
  std::string name;
  std::string host;  // as in the inventory, with the port
  DeviceResult result = DeviceResult::NotReached;
  std::uint64_t bytes = 0;
  double seconds = 0;
  int errorCode = -1;   // the device's ERROR code, -1 when none
  std::string error;    // why it failed (device text decoded from CP932)
  std::string history;  // where the replaced copy went, when one was kept
};

struct RunTotals {
  std::size_t changed = 0, unchanged = 0, failed = 0, interrupted = 0, notReached = 0;
};

RunTotals CountResults(const std::vector<DeviceReport>& rows);

// Aligned table for a person, one device a line, then the totals line.
std::string SummaryText(const std::vector<DeviceReport>& rows);
std::string TotalsLine(const RunTotals& totals, std::size_t devices);

std::string JsonReport(const std::vector<DeviceReport>& rows, const std::string& started);
// RFC 4180, header row first.
std::string CsvReport(const std::vector<DeviceReport>& rows);

// A device's message or our reason with every trace of the password
// replaced (devices like to echo the requested name back), as UTF-8.
std::string ScrubbedText(const std::string& text, const std::string& passwordUtf8, bool textIsCp932);

// "12/300 devices done, 1 failed"
std::string ProgressLine(std::size_t done, std::size_t total, std::size_t failed);

}  // namespace tarnwick::fleet
