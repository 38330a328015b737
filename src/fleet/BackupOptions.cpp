#include "fleet/BackupOptions.h"

#include <filesystem>

#include "archive/GitArchive.h"
#include "cliutil/BoundedDecimal.h"
#include "cliutil/OptionWalk.h"

namespace tarnwick::fleet {

namespace {

// Longest count typed on the command line (the largest, --max-bytes, has 9
// digits).
constexpr std::size_t kCountDigits = 9;

bool ParseCount(const std::string& text, std::uint64_t low, std::uint64_t high, std::uint64_t& out) {
  return cli::ParseBoundedDecimal(text, kCountDigits, low, high, out);
}

bool EndsWith(const std::string& text, const std::string& tail) {
  if (text.size() < tail.size()) return false;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    char c = text[text.size() - tail.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != tail[i]) return false;
  }
  return true;
}

bool SamePath(const std::string& a, const std::string& b) {
  return std::filesystem::path(a).lexically_normal() == std::filesystem::path(b).lexically_normal();
}

}  // namespace

BackupParse ParseBackupArguments(const std::vector<std::string>& args, bool gitAvailable) {
  BackupParse result;
  BackupOptions& o = result.options;
  auto refuse = [&](std::string why) {
    result.error = std::move(why);
    return result;
  };
  cli::OptionWalk walk(args);
  while (walk.Next()) {
    const std::string& name = walk.Name();
    if (walk.IsHelp()) {
      o.help = true;
      continue;
    }
    if (walk.IsOneOf(
            {"--git", "--no-progress", "--diff", "--prune", "--quiet", "--check", "--prune-force"})) {
      if (walk.HasInlineValue()) return refuse(name + " takes no value");
      if (name == "--git") {
        if (!gitAvailable) return refuse("--git is not available in this build");
        o.git = true;
      }
      if (name == "--no-progress") o.progress = false;
      if (name == "--diff") o.diff = true;
      if (name == "--prune" || name == "--prune-force") o.prune = true;
      if (name == "--prune-force") o.pruneForce = true;
      if (name == "--quiet") o.quiet = true;
      if (name == "--check") o.check = true;
      continue;
    }
    if (!walk.IsOneOf({"--dest",         "--jobs",        "--report",     "--port",
                       "--timeout",      "--retries",     "--delimiter",  "--min-ratio",
                       "--expect",       "--max-bytes",   "--deadline",   "--stale",
                       "--ignore",       "--ignore-file", "--rounds",     "--only",
                       "--retry-failed", "--on-change",   "--on-failure", "--on-done",
                       "--hook-timeout", "--keep",        "--metrics",    "--on-change-batch",
                       "--secret",       "--git-branch",  "--git-push"}))
      return refuse("unknown option " + name);
    std::string value;
    if (!walk.TakeValue(value)) return refuse(name + " needs a value");
    std::uint64_t number = 0;
    if (name == "--dest") {
      if (value.empty()) return refuse("--dest needs a folder");
      o.dest = value;
    } else if (name == "--jobs") {
      if (!ParseCount(value, 1, 4096, number)) return refuse("--jobs takes 1 to 4096");
      o.jobs = static_cast<int>(number);
    } else if (name == "--report") {
      if (!EndsWith(value, ".json") && !EndsWith(value, ".csv") && !ReportIsHtml(value))
        return refuse("--report writes JSON, CSV or HTML: the file name must end in .json, .csv or .html");
      for (const std::string& earlier : o.reports)
        if (SamePath(earlier, value)) return refuse("--report " + value + " is given twice");
      o.reports.push_back(value);
    } else if (name == "--metrics") {
      if (!EndsWith(value, ".prom"))
        return refuse("--metrics writes the textfile format: the name must end in .prom");
      o.metrics = value;
    } else if (name == "--port") {
      if (!ParseCount(value, 1, 65535, number)) return refuse("--port takes 1 to 65535");
      o.defaults.port = value;
    } else if (name == "--timeout") {
      // No "wait forever" here: one silent device must not hold the night.
      if (!ParseCount(value, 1, 600000, number))
        return refuse("--timeout takes milliseconds from 1 to 600000");
      o.defaults.timeoutMs = static_cast<std::uint32_t>(number);
    } else if (name == "--retries") {
      if (!ParseCount(value, 1, 100, number)) return refuse("--retries takes 1 to 100");
      o.defaults.retries = static_cast<int>(number);
    } else if (name == "--min-ratio") {
      if (!ParseRatio(value, o.defaults.minRatio)) return refuse("--min-ratio takes a fraction from 0 to 1");
    } else if (name == "--expect") {
      if (value.empty()) return refuse("--expect needs a regular expression");
      if (std::string why = PatternFault(value); !why.empty()) return refuse("--expect: " + why);
      o.defaults.expect = value;
    } else if (name == "--max-bytes") {
      if (!ParseCount(value, 1, 999999999, number)) return refuse("--max-bytes takes 1 to 999999999");
      o.maxBytes = static_cast<std::uint64_t>(number);
    } else if (name == "--deadline") {
      if (!ParseCount(value, 1, 86400, number)) return refuse("--deadline takes seconds from 1 to 86400");
      o.deadlineSeconds = static_cast<std::uint32_t>(number);
    } else if (name == "--stale") {
      if (!ParseCount(value, 1, 87600, number)) return refuse("--stale takes hours from 1 to 87600");
      o.staleHours = static_cast<int>(number);
    } else if (name == "--ignore") {
      o.ignore.push_back(value);
    } else if (name == "--secret") {
      o.secret.push_back(value);
    } else if (name == "--ignore-file") {
      if (value.empty()) return refuse("--ignore-file needs a file");
      o.ignoreFile = value;
    } else if (name == "--rounds") {
      if (!ParseCount(value, 0, 10, number)) return refuse("--rounds takes 0 to 10");
      o.rounds = static_cast<int>(number);
    } else if (name == "--only") {
      if (value.empty()) return refuse("--only needs a device name or a pattern");
      o.only.push_back(value);
    } else if (name == "--retry-failed") {
      if (value.empty()) return refuse("--retry-failed needs a JSON report");
      o.retryFailed = value;
    } else if (name == "--on-change" || name == "--on-failure" || name == "--on-done" ||
               name == "--on-change-batch") {
      if (value.empty()) return refuse(name + " needs a command");
      (name == "--on-change"    ? o.onChange
       : name == "--on-failure" ? o.onFailure
       : name == "--on-done"    ? o.onDone
                                : o.onChangeBatch) = value;
    } else if (name == "--hook-timeout") {
      if (!ParseCount(value, 1, 86400, number)) return refuse("--hook-timeout takes seconds from 1 to 86400");
      o.hookTimeoutSeconds = static_cast<std::uint32_t>(number);
    } else if (name == "--keep") {
      if (!ParseCount(value, 1, 1000000, number)) return refuse("--keep takes 1 to 1000000");
      o.keep = static_cast<std::size_t>(number);
    } else if (name == "--git-branch" || name == "--git-push") {
      if (std::string fault = archive::GitArchive::OptionFault(name, value); !fault.empty()) return refuse(fault);
      (name == "--git-branch" ? o.gitBranch : o.gitPush) = value;
    } else if (name == "--delimiter") {
      if (value.empty()) return refuse("--delimiter needs at least one character");
      o.defaults.delimiter = value;
    }
  }
  if (o.help) {
    result.ok = true;
    return result;
  }
  const std::vector<std::string>& positional = walk.Positional();
  if (positional.size() != 1)
    return refuse(positional.empty() ? "no inventory file given" : "one inventory file only");
  o.inventory = positional[0];
  if (o.dest.empty()) return refuse("--dest DIR is required");
  if (!o.only.empty() && !o.retryFailed.empty())
    return refuse("--only and --retry-failed do not go together");
  // The retry's report would replace the whole night's with the few devices
  // retried; a report of its own keeps both.
  for (const std::string& report : o.reports)
    if (!o.retryFailed.empty() && SamePath(report, o.retryFailed))
      return refuse("--report " + report +
                    " is the report --retry-failed reads: give the retry's report another name");
  if (!o.gitBranch.empty() && !o.git) return refuse("--git-branch needs --git");
  if (!o.gitPush.empty() && !o.git) return refuse("--git-push needs --git");
  result.ok = true;
  return result;
}

bool ReportIsJson(const std::string& path) { return EndsWith(path, ".json"); }

bool ReportIsHtml(const std::string& path) { return EndsWith(path, ".html") || EndsWith(path, ".htm"); }

bool GlobMatches(const std::string& glob, const std::string& name) {
  // Greedy with one point to come back to: linear enough for names.
  std::size_t g = 0, n = 0, star = std::string::npos, resume = 0;
  while (n < name.size()) {
    if (g < glob.size() && (glob[g] == '?' || glob[g] == name[n])) {
      ++g;
      ++n;
    } else if (g < glob.size() && glob[g] == '*') {
      star = g++;
      resume = n;
    } else if (star != std::string::npos) {
      g = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (g < glob.size() && glob[g] == '*') ++g;
  return g == glob.size();
}

std::string BackupUsageText() {
  return "usage: tarnwick-cli backup INVENTORY --dest DIR [options]\n"
         "  Fetches every device's configuration listed in INVENTORY (CSV with the header\n"
         "  name,host,port,remote,password,delimiter[,blksize,windowsize,timeout,retries,\n"
         "  tsize,min_ratio,expect,ignore,enabled,push]; other columns are ignored) into\n"
         "  DIR/<name>.cfg; a replaced copy is kept in DIR/history/<name>/. One run per\n"
         "  DIR at a time; DIR/.tarnwick.state remembers each device between runs.\n"
         "  A row with push and no remote uploads to serve --archive: listed, never fetched.\n"
         "  --jobs N        transfers at once (default 32)\n"
         "  --git           DIR is a git repository; one commit per run with changes\n"
         "  --git-branch B  commit onto branch B (made when missing), not the one checked out\n"
         "  --git-push R    after the commit push the branch to R (path or URL), never forced\n"
         "  --report FILE   also write the summary as JSON, CSV or HTML (by the extension;\n"
         "                  repeatable, never the file --retry-failed reads)\n"
         "  --metrics F.prom  the run's heartbeat for node_exporter's textfile collector,\n"
         "                  written at the start (running 1) and at the end\n"
         "  --port N        port when the inventory leaves it empty (default 69)\n"
         "  --delimiter D   between file name and password when left empty (default /)\n"
         "  --timeout MS    first wait for each answer when left empty (default 1000)\n"
         "  --retries N     time-outs in a row before a device fails (default 5)\n"
         "  --min-ratio F   refuse a copy smaller than F times the saved one (default 0.5)\n"
         "  --expect REGEX  refuse a copy where no line matches REGEX\n"
         "  --max-bytes N   stop a device's transfer past N bytes (default 67108864)\n"
         "  --deadline S    stop a device's transfer after S seconds (default 600)\n"
         "  --no-progress   no progress line even on a terminal\n"
         "  --stale HOURS   flag devices with no success for HOURS (default 48; exit 1)\n"
         "  --ignore REGEX  drop lines REGEX finds before comparing (repeatable)\n"
         "  --ignore-file F named sets of ignore rules ([set] then one rule a line),\n"
         "                  chosen per device by the inventory's `ignore` column;\n"
         "                  its [secret] set holds more --secret rules\n"
         "  --secret REGEX  also mask the last word of what REGEX finds in diffs and\n"
         "                  reports (repeatable; common secrets are masked anyway)\n"
         "  --rounds N      retry devices that failed for a network reason N more\n"
         "                  times, after everyone else (default 2)\n"
         "  --only NAME     only the devices NAME or GLOB matches (repeatable)\n"
         "  --retry-failed REPORT.json  only the devices that failed or were not\n"
         "                  reached in that earlier report\n"
         "  --diff          print a unified diff of every changed configuration\n"
         "  --prune         move the saved copy of a device gone from the inventory\n"
         "                  into its history; never after a faulty inventory row, nor\n"
         "                  for more than 3 devices and 10% of them at once\n"
         "  --prune-force   --prune past that limit\n"
         "  --on-change CMD, --on-failure CMD  run CMD per changed / failed device\n"
         "                  (a new device's first copy is \"new\", not a change)\n"
         "  --on-change-batch CMD  run CMD once with every new or changed device on\n"
         "                  its standard input: new|changed TAB name TAB file a line\n"
         "  --on-done CMD   run CMD once at the end (facts in TARNWICK_* variables)\n"
         "  --hook-timeout S  time limit of each hook (default 60)\n"
         "  --quiet         only failures, stale devices and the totals; nothing on a\n"
         "                  night where every device is fine\n"
         "  --check         read the inventory, resolve every host, check DIR, its\n"
         "                  lock and git; fetch nothing\n"
         "  --keep N        keep the newest N history copies per device\n"
         "  The inventory may add columns ignore (a set of --ignore-file) and enabled\n"
         "  (yes/no: \"no\" keeps a device listed as disabled, never fetched).\n"
         "exit status: 0 every device saved (and archived), 1 some device failed, was\n"
         "  refused or is stale, 2 usage error or unreadable inventory, 3 the folder,\n"
         "  the archive or the report failed (DIR locked by another run, commit failed,\n"
         "  ...)\n";
}

}  // namespace tarnwick::fleet
