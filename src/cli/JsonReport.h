// The --json result of tarnwick-cli: one object on one line, written after
// the transfer, so scripts read the outcome without parsing the Japanese
// work log. All text in it is UTF-8 and escaped by JsonString.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::cli {

struct JsonReport {
  std::string command;  // "get" / "put"
  std::string result;   // "done", "failed", "interrupted", "usage" or "local-error"
  std::string remote;   // the file name part as shown in the work log (no password)
  std::string local;
  std::string server;  // "192.0.2.1:69", empty when the host did not resolve
  std::uint64_t bytes = 0;
  double seconds = 0.0;
  std::uint32_t blockSize = 512;
  std::uint32_t windowSize = 1;
  std::optional<std::uint64_t> transferSize;
  std::optional<std::uint32_t> timeoutSeconds;
  bool negotiated = false;
  std::uint64_t retransmissions = 0;
  int errorCode = -1;     // the device's ERROR code, -1 when none came
  std::string errorText;  // the device's text, UTF-8
  std::string reason;     // why it failed, cause first; empty when done
};

// A JSON string literal (quotes included). Control characters and the
// quote and backslash are escaped; bytes that are not valid UTF-8 become
// U+FFFD so the output is always valid JSON.
std::string JsonString(std::string_view utf8);

// The report of a run that never reached the transfer ("usage",
// "local-error", "failed"): the command, the result and why.
JsonReport ShortReport(std::string command, std::string result, std::string reason);

// The object, one line, with a final line break.
std::string FormatJsonReport(const JsonReport& report);

}  // namespace tarnwick::cli
