#include "fleet/NightlyRun.h"

#include <cstdlib>

#include "app/TransferNames.h"
#include "archive/RunState.h"
#include "base/TextCodec.h"
#include "cliutil/Console.h"
#include "fleet/Hooks.h"

namespace tarnwick::fleet {

namespace {

// The JSON string starting at text[i] (its opening quote); i ends past the
// closing quote. Surrogate pairs stay two replacement-free halves: names
// we wrote never need them (JsonString passes UTF-8 through).
bool ReadJsonString(const std::string& text, std::size_t& i, std::string& out) {
  out.clear();
  for (++i; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') return ++i, true;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'u': {
        if (i + 4 >= text.size()) return false;
        char* end = nullptr;
        const std::string hex = text.substr(i + 1, 4);
        const unsigned long code = std::strtoul(hex.c_str(), &end, 16);
        if (end != hex.c_str() + 4) return false;
        AppendUtf8(out, static_cast<char32_t>(code));
        i += 4;
        break;
      }
      default:
        out += text[i];
    }
  }
  return false;
}

}  // namespace

bool FailedInReport(const std::string& json, std::set<std::string>& names, std::string& error) {
  names.clear();
  std::string key, value, device, result;
  bool sawDevices = false, expectValue = false;
  for (std::size_t i = 0; i < json.size();) {
    const char c = json[i];
    if (c == '"') {
      std::string text;
      if (!ReadJsonString(json, i, text)) return error = "the report ends inside a string", false;
      if (expectValue) {
        if (key == "device") device = text;
        if (key == "result") result = text;
        expectValue = false;
      } else {
        key = text;
        sawDevices = sawDevices || key == "devices";
      }
      continue;
    }
    if (c == ':') expectValue = true;
    if (c == ',' || c == '{' || c == '[') expectValue = false;
    if (c == '{') device.clear(), result.clear();
    if (c == '}' && !device.empty() &&
        (result == "failed" || result == "interrupted" || result == "not reached"))
      names.insert(device);
    ++i;
  }
  if (!sawDevices) return error = "it is not a backup report in JSON (no \"devices\")", false;
  return true;
}

std::vector<IgnoreRuleList> RulesPerDevice(std::vector<Device>& devices, const IgnoreRuleList& common,
                                           const IgnoreFile& file) {
  std::vector<IgnoreRuleList> rules(devices.size(), common);
  for (std::size_t i = 0; i < devices.size(); ++i) {
    Device& d = devices[i];
    if (d.ignoreSet.empty() || !d.fault.empty()) continue;
    auto found = file.sets.find(d.ignoreSet);
    if (found == file.sets.end()) {
      d.fault = "ignore set \"" + Printable(d.ignoreSet) + "\" is not in the ignore file";
      continue;
    }
    rules[i].insert(rules[i].end(), found->second.begin(), found->second.end());
  }
  return rules;
}

std::string QuietSummary(const std::vector<DeviceReport>& rows, const std::string& staleLine, bool anyStale) {
  std::vector<DeviceReport> worth;
  for (const DeviceReport& r : rows)
    if (r.stale || r.result == DeviceResult::Failed || r.result == DeviceResult::Interrupted ||
        r.result == DeviceResult::NotReached)
      worth.push_back(r);
  if (worth.empty() && !anyStale) return "";
  return (worth.empty() ? "" : SummaryTable(worth)) + TotalsLine(CountResults(rows), rows.size()) + "\n" +
         staleLine + "\n";
}

bool SecretRules(const std::vector<std::string>& options, IgnoreFile& file,
                 std::vector<archive::Pattern>& rules, std::string& error) {
  IgnoreRuleList compiled;
  if (!CompileIgnoreRules(options, compiled, error)) return false;
  if (auto set = file.sets.find("secret"); set != file.sets.end()) {
    compiled.insert(compiled.end(), set->second.begin(), set->second.end());
    file.sets.erase(set);
  }
  for (const IgnoreRule& rule : compiled) rules.push_back(rule.pattern);
  return true;
}

std::string TerminalDiff(const std::string& diff) {
  std::string out;
  for (std::size_t at = 0; at < diff.size();) {
    std::size_t end = diff.find('\n', at);
    if (end == std::string::npos) end = diff.size();
    out += Printable(std::string_view(diff).substr(at, end - at)) + "\n";
    at = end + 1;
  }
  return out;
}

std::string WithoutPasswords(const std::string& text, const std::vector<Device>& devices) {
  std::set<std::string> seen;
  std::string out = text;
  for (const Device& d : devices) {
    if (d.password.empty() || !seen.insert(d.password + '\n' + d.delimiter).second) continue;
    out = WithoutPasswordEcho(out, {d.remote, d.password, d.delimiter, true});
  }
  return out;
}

std::string PruneRefusal(std::size_t gone, std::size_t known, bool faultyInventory, bool force) {
  if (faultyInventory)
    return "the inventory has faulty rows: no device is taken for gone, nothing is pruned or forgotten";
  if (force || gone <= kPruneFreely || gone * 100 <= known * kPrunePercent) return {};
  return std::to_string(gone) + " of " + std::to_string(known) +
         " devices are gone from the inventory (more than " + std::to_string(kPruneFreely) +
         " and more than " + std::to_string(kPrunePercent) +
         "%): nothing is pruned or forgotten; --prune-force prunes them";
}

archive::LockWait ServeTurn(const std::string& dest, std::ostream& err) {
  archive::LockWait wait;
  wait.limit = std::chrono::minutes(10);
  wait.holderPrefix = "serve ";  // the line serve writes: "serve pid 123, storing pushes"
  wait.stop = [] { return cli::StopRequested(); };
  wait.waitsFor = [dest, &err](const std::string& holder) {
    err << "tarnwick-cli backup: " << dest << " is held by " << Printable(holder)
        << "; waiting for its turn (up to 10 minutes)\n"
        << std::flush;
  };
  return wait;
}

HtmlRunPage MorningPage(const std::vector<DeviceReport>& rows, const RunFacts& facts) {
  HtmlRunPage page;
  page.started = facts.started;
  page.finished = facts.finished;
  page.staleLine = facts.staleLine;
  const RunTotals t = CountResults(rows);
  std::size_t stale = 0;
  for (const DeviceReport& r : rows) stale += r.stale ? 1 : 0;
  page.totals = {{"devices", rows.size()}, {"new", t.created},
                 {"changed", t.changed},   {"unchanged", t.unchanged},
                 {"failed", t.failed},     {"stale", stale},
                 {"disabled", t.disabled}, {"not reached", t.notReached + t.interrupted},
                 {"pushed", t.pushed},     {"not pushed", t.notPushed}};
  for (const DeviceReport& r : rows) {
    HtmlDeviceRow row;
    row.device = r.name;
    row.host = r.host;
    row.result = ResultName(r.result);
    row.bytes = r.bytes;
    if (r.lastSuccess) row.lastSuccess = archive::UtcMinuteText(r.lastSuccess);
    row.stale = r.stale;
    row.error = r.error;
    row.via = IntakeName(r);
    row.lastPush = LastPushText(r);
    page.devices.push_back(std::move(row));
    if (!r.diff.empty()) page.diffs.push_back({r.name, r.diff});
  }
  return page;
}

std::string ChangeList(const std::vector<DeviceReport>& rows, const std::string& dest) {
  std::string list;
  for (const DeviceReport& r : rows)
    if (Saved(r.result))
      list += std::string(ResultName(r.result)) + "\t" + r.name + "\t" + dest + "/" + r.file + "\n";
  return list;
}

std::vector<std::string> RunEventHooks(const HookCommands& hooks, const std::vector<DeviceReport>& rows,
                                       const RunFacts& facts, const std::vector<std::string>& secrets,
                                       const std::string& dest, const std::string& report,
                                       const std::string& changeList) {
  std::vector<std::string> failures;
  auto run = [&](const std::vector<std::string>& argv, HookFacts hookFacts, const std::string& what,
                 const std::string& input = "") {
    HookRequest request;
    request.argv = argv;
    hookFacts.commit = facts.archive.commit;
    hookFacts.report = report;
    request.facts = std::move(hookFacts);
    request.secrets = secrets;
    request.timeLimit = hooks.timeLimit;
    request.input = input;
    request.stopRequested = [] { return cli::StopRequested(); };
    const HookResult result = RunHook(request);
    if (!result.Succeeded()) failures.push_back(what + ": " + result.reason);
  };
  for (const DeviceReport& r : rows) {
    const bool changed = r.result == DeviceResult::Changed;
    const bool failed = r.result == DeviceResult::Failed;
    const std::vector<std::string>& argv = changed ? hooks.onChange : hooks.onFailure;
    // A refused row's name is no device's and may be hostile
    // ("../../etc/evil", "$(touch x)"): it never reaches a hook.
    if ((!changed && !failed) || r.faultyRow || argv.empty() || cli::StopRequested()) continue;
    HookFacts f;
    f.device = r.name;
    f.host = r.host;
    f.result = ResultName(r.result);
    f.error = r.error;
    if (!r.file.empty()) f.file = dest + "/" + r.file;
    run(argv, f, (changed ? "--on-change hook for " : "--on-failure hook for ") + r.name);
  }
  if (!hooks.onChangeBatch.empty() && !changeList.empty() && !cli::StopRequested()) {
    HookFacts f;
    f.result = TotalsLine(CountResults(rows), rows.size());
    run(hooks.onChangeBatch, f, "--on-change-batch hook", changeList);
  }
  if (!hooks.onDone.empty()) {
    HookFacts f;
    f.result = TotalsLine(CountResults(rows), rows.size());
    run(hooks.onDone, f, "--on-done hook");
  }
  return failures;
}

}  // namespace tarnwick::fleet
