// What a backup run reports per device: the summary on stderr and the same
// rows as JSON or CSV for --report. Text here is UTF-8 and holds no
// password (device messages are scrubbed before they get here).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/TransferNames.h"
#include "archive/Archive.h"

namespace tarnwick::fleet {

// New: the first copy of a device saved (nothing it replaced). Pushed and
// NotPushed are the devices backup never fetches (push-only rows): one that
// has had a push accepted by serve, and one that has not.
enum class DeviceResult {
  Changed,
  Unchanged,
  Failed,
  Interrupted,
  NotReached,
  Disabled,
  New,
  Pushed,
  NotPushed
};

const char* ResultName(DeviceResult result);

// A device's result from what the archive made of its copy: a refused copy
// is a failed device (its row says refused).
DeviceResult ResultOf(archive::Fate fate);

// A copy was saved tonight: a new device's first or a changed one.
inline bool Saved(DeviceResult result) {
  return result == DeviceResult::Changed || result == DeviceResult::New;
}

// One device's result, filled in stage by stage (inventory, fetch,
// validate, store); what the summary, the reports and anything that runs
// after the store read.
struct DeviceReport {
  std::string name;
  std::string host;  // as in the inventory, with the port
  DeviceResult result = DeviceResult::NotReached;
  std::uint64_t bytes = 0;
  double seconds = 0;
  int errorCode = -1;            // the device's ERROR code, -1 when none
  std::string error;             // why it failed (device text decoded from CP932)
  std::string history;           // where the replaced copy went, when one was kept
  std::string file;              // the saved copy ("<name>.cfg") when there is one
  bool refused = false;          // a complete file that validation turned away
  int line = 0;                  // its row in the inventory
  bool network = false;          // failed for a network reason: tried again in a later round
  std::string diff;              // unified diff of a changed copy (--diff, reports), passwords scrubbed
  bool stale = false;            // no success for longer than --stale
  std::int64_t lastSuccess = 0;  // UTC seconds, 0 for never
  bool faultyRow = false;        // its inventory row was refused: no device, no hook
  bool pushOnly = false;         // never fetched: its configuration arrives by push
  bool pushes = false;           // the inventory lets it upload (push-only or not)
  std::int64_t lastPush = 0;     // the last push serve received, accepted or not; 0 for none
  std::string lastPushFrom{};    // that push's sender
};

// "pull", "push" or "pull+push": how a device's configuration arrives.
std::string IntakeName(const DeviceReport& row);
// "2026-12-08 01:30 UTC from 192.0.2.10", empty when it never pushed.
std::string LastPushText(const DeviceReport& row);

// The archive stage's result for the report.
struct ArchiveReport {
  bool attempted = false;  // --git was given
  bool ok = false;
  std::string commit;  // the new commit's id; empty when nothing differed from HEAD
  std::string error;
};

// The run as a whole, for the report.
struct RunFacts {
  std::string started, finished;  // ISO 8601 UTC
  ArchiveReport archive;
  std::string staleLine;                 // "2 devices stale, the oldest since ..."
  std::vector<std::string> added, gone;  // inventory changes since the last run
  std::vector<std::string> pruned;       // gone devices whose copy went to the history
};

struct RunTotals {
  std::size_t changed = 0, unchanged = 0, failed = 0, interrupted = 0, notReached = 0, disabled = 0,
              created = 0, pushed = 0, notPushed = 0;
};

RunTotals CountResults(const std::vector<DeviceReport>& rows);

// Aligned table for a person, one device a line, then the totals line.
std::string SummaryText(const std::vector<DeviceReport>& rows);
// The table alone, header first.
std::string SummaryTable(const std::vector<DeviceReport>& rows);
std::string TotalsLine(const RunTotals& totals, std::size_t devices);

// Valid JSON whatever bytes the cells hold: bytes that are not UTF-8
// become U+FFFD.
std::string JsonReport(const std::vector<DeviceReport>& rows, const RunFacts& run);
// RFC 4180, header row first, then the run's own lines as comments are not
// part of CSV: the archive and finish time go in a last row of their own.
// A cell that a spreadsheet would take for a formula (= + - @, tab, CR at
// its start) gets a leading apostrophe.
std::string CsvReport(const std::vector<DeviceReport>& rows, const RunFacts& run);

// A device's message or our reason with every trace of the password
// replaced (devices like to echo the requested name back), as UTF-8.
std::string ScrubbedText(const std::string& text, const NameFields& fields, bool textIsCp932);

// The code point of the bidirectional control at text[i] (U+200E/F,
// U+202A-202E, U+2066-2069), 0 when there is none: shown raw, one reverses
// the rest of a summary line or a page row, so every output escapes them.
char32_t BidiControlAt(std::string_view text, std::size_t i);
// text with each bidirectional control as "\u202e" (the terminal summary).
std::string BidiEscaped(std::string_view text);

// text as JSON string content; invalid UTF-8 replaced, bidi controls escaped.
std::string JsonString(const std::string& text);
// text as one CSV cell, inert for spreadsheets (bidi controls escaped).
std::string CsvField(const std::string& text);

// "12/300 devices done, 1 failed"
std::string ProgressLine(std::size_t done, std::size_t total, std::size_t failed);

}  // namespace tarnwick::fleet
