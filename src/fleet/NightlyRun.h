// What a nightly backup adds around the stages: which devices this run
// takes (--only, --retry-failed, the enabled column), the ignore rules of
// each device, the morning's outputs (the quiet summary, the diffs on a
// terminal, the HTML page) and the hooks. Plain data in, plain data out;
// Backup.cpp runs them in order.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "archive/DestFolder.h"
#include "fleet/BackupReport.h"
#include "fleet/HtmlReport.h"
#include "fleet/IgnoreRules.h"
#include "fleet/Inventory.h"

namespace tarnwick::fleet {

// The devices an earlier JSON report lists as failed, interrupted or not
// reached. False with the reason when the text is not such a report.
bool FailedInReport(const std::string& json, std::set<std::string>& names, std::string& error);

// Each device's rules: --ignore's for every device, then the set its
// `ignore` cell names. A set the file does not have is that device's fault.
std::vector<IgnoreRuleList> RulesPerDevice(std::vector<Device>& devices, const IgnoreRuleList& common,
                                           const IgnoreFile& file);

// The secret rules (SecretMask.h): each --secret, then the rules of the
// ignore file's [secret] set, which is taken out of its ignore sets. False
// with the reason when a --secret rule does not compile.
bool SecretRules(const std::vector<std::string>& options, IgnoreFile& file,
                 std::vector<archive::Pattern>& rules, std::string& error);

// What --quiet prints: the failed and stale devices, the totals, the stale
// line; nothing at all when every device is fine and none is stale.
std::string QuietSummary(const std::vector<DeviceReport>& rows, const std::string& staleLine, bool anyStale);

// A diff made harmless on a terminal: control bytes of its lines (an escape
// sequence a device put in its configuration) shown as \xNN.
std::string TerminalDiff(const std::string& diff);

// The password of every device taken out of text, by the one scrubbing rule.
std::string WithoutPasswords(const std::string& text, const std::vector<Device>& devices);

// Pruning more than this many devices at once, and more than this share of
// the devices the state knows, takes --prune-force: an export cut short
// looks like a fleet that shrank.
constexpr std::size_t kPruneFreely = 3;
constexpr std::size_t kPrunePercent = 10;

// Why the devices gone from the inventory are not pruned tonight, or empty
// when they may be. known counts the devices the state remembered.
std::string PruneRefusal(std::size_t gone, std::size_t known, bool faultyInventory, bool force);

// How backup waits for DEST's lock: its turn after a serve storing pushes
// (which holds it for seconds; up to 10 minutes, said once on err, a stop
// request ends it), never after another backup.
archive::LockWait ServeTurn(const std::string& dest, std::ostream& err);

HtmlRunPage MorningPage(const std::vector<DeviceReport>& rows, const RunFacts& facts);

struct HookCommands {
  std::vector<std::string> onChange, onFailure, onDone, onChangeBatch;  // split words, empty for none
  std::chrono::milliseconds timeLimit{60000};
};

// --on-change-batch's standard input: a line per device saved tonight,
// "<new|changed> TAB <name> TAB <saved file>"; empty when none was.
std::string ChangeList(const std::vector<DeviceReport>& rows, const std::string& dest);

// Runs the hooks of the run's events: --on-change per changed device (a new
// device's first copy is no change), --on-failure per failed one,
// --on-change-batch once with changeList (a file, as its standard input)
// when any copy was saved, --on-done once. Each failing hook is one line of
// the returned text; none fails the backup.
std::vector<std::string> RunEventHooks(const HookCommands& hooks, const std::vector<DeviceReport>& rows,
                                       const RunFacts& facts, const std::vector<std::string>& secrets,
                                       const std::string& dest, const std::string& report,
                                       const std::string& changeList);

}  // namespace tarnwick::fleet
