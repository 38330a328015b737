// The morning view of a backup run: one self-contained HTML page (inline
// CSS, no script, nothing loaded from anywhere) with the run's totals, a
// row per device and the diff of every changed device, readable on a phone.
// Every text from a device or the inventory is hostile: all of it is
// escaped, invalid UTF-8 shows as U+FFFD, and the page's own policy forbids
// scripts and outside loads should anything ever slip through.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::fleet {

struct HtmlDeviceRow {
  std::string device;
  std::string host;
  std::string result;  // "changed", "failed", ... as the summary names it
  std::uint64_t bytes = 0;
  std::string lastSuccess;  // "2026-12-06 01:30 UTC", empty when never
  bool stale = false;
  std::string error;
  std::string via{};       // "pull", "push", "pull+push": pushed and pulled devices side by side
  std::string lastPush{};  // "2026-12-06 01:30 UTC from 192.0.2.10", empty when it never pushed
};

struct HtmlTotal {
  std::string label;  // "devices", "changed", "failed", "stale", ...
  std::uint64_t count = 0;
};

struct HtmlDiff {
  std::string device;
  std::string diff;  // a unified diff, passwords already scrubbed
};

struct HtmlRunPage {
  std::string title = "Tarnwick backup";
  std::string started;  // when the run started, as the summary prints it
  std::string finished;
  std::string staleLine;  // "2 devices stale, the oldest since ..."
  std::vector<HtmlTotal> totals;
  std::vector<HtmlDeviceRow> devices;
  std::vector<HtmlDiff> diffs;
};

std::string HtmlReportPage(const HtmlRunPage& page);

// Text made safe for an element's content or a quoted attribute: & < > " '
// as entities, invalid UTF-8 and control characters (but tab and line
// break) as U+FFFD, a CR before a line break dropped.
std::string HtmlEscaped(const std::string& text);

}  // namespace tarnwick::fleet
