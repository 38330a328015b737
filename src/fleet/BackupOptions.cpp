#include "fleet/BackupOptions.h"

namespace tarnwick::fleet {

namespace {

bool ParseCount(const std::string& text, long long low, long long high, long long& out) {
  if (text.empty() || text.size() > 9) return false;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return false;
  out = value;
  return true;
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

}  // namespace

BackupParse ParseBackupArguments(const std::vector<std::string>& args, bool gitAvailable) {
  BackupParse result;
  BackupOptions& o = result.options;
  auto refuse = [&](std::string why) {
    result.error = std::move(why);
    return result;
  };
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
      positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = a, value;
    bool inlineValue = false;
    if (auto eq = a.find('='); eq != std::string::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      inlineValue = true;
    }
    if (name == "--help" || name == "-h") {
      o.help = true;
      continue;
    }
    if (name == "--git" || name == "--no-progress") {
      if (inlineValue) return refuse(name + " takes no value");
      if (name == "--git") {
        if (!gitAvailable) return refuse("--git is not available in this build");
        o.git = true;
      } else {
        o.progress = false;
      }
      continue;
    }
    static const char* const kWithValue[] = {"--dest",    "--jobs",      "--report",    "--port",
                                             "--timeout", "--retries",   "--delimiter", "--min-ratio",
                                             "--expect",  "--max-bytes", "--deadline"};
    bool known = false;
    for (const char* k : kWithValue) known = known || name == k;
    if (!known) return refuse("unknown option " + name);
    if (!inlineValue) {
      if (i + 1 >= args.size()) return refuse(name + " needs a value");
      value = args[++i];
    }
    long long number = 0;
    if (name == "--dest") {
      if (value.empty()) return refuse("--dest needs a folder");
      o.dest = value;
    } else if (name == "--jobs") {
      if (!ParseCount(value, 1, 4096, number)) return refuse("--jobs takes 1 to 4096");
      o.jobs = static_cast<int>(number);
    } else if (name == "--report") {
      if (!EndsWith(value, ".json") && !EndsWith(value, ".csv"))
        return refuse("--report writes JSON or CSV: the file name must end in .json or .csv");
      o.report = value;
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
    } else if (name == "--delimiter") {
      if (value.empty()) return refuse("--delimiter needs at least one character");
      o.defaults.delimiter = value;
    }
  }
  if (o.help) {
    result.ok = true;
    return result;
  }
  if (positional.size() != 1)
    return refuse(positional.empty() ? "no inventory file given" : "one inventory file only");
  o.inventory = positional[0];
  if (o.dest.empty()) return refuse("--dest DIR is required");
  result.ok = true;
  return result;
}

bool ReportIsJson(const std::string& path) { return EndsWith(path, ".json"); }

std::string BackupUsageText() {
  return "usage: tarnwick-cli backup INVENTORY --dest DIR [options]\n"
         "  Fetches every device's configuration listed in INVENTORY (CSV with the header\n"
         "  name,host,port,remote,password,delimiter[,blksize,windowsize,timeout,retries,\n"
         "  tsize,min_ratio,expect]; other columns are ignored) into DIR/<name>.cfg; a\n"
         "  replaced copy is kept in DIR/history/<name>/. One run per DIR at a time.\n"
         "  --jobs N        transfers at once (default 32)\n"
         "  --git           DIR is a git repository; one commit per run with changes\n"
         "  --report FILE   also write the summary as JSON or CSV (by the file's extension)\n"
         "  --port N        port when the inventory leaves it empty (default 69)\n"
         "  --delimiter D   between file name and password when left empty (default /)\n"
         "  --timeout MS    first wait for each answer when left empty (default 1000)\n"
         "  --retries N     time-outs in a row before a device fails (default 5)\n"
         "  --min-ratio F   refuse a copy smaller than F times the saved one (default 0.5)\n"
         "  --expect REGEX  refuse a copy where no line matches REGEX\n"
         "  --max-bytes N   stop a device's transfer past N bytes (default 67108864)\n"
         "  --deadline S    stop a device's transfer after S seconds (default 600)\n"
         "  --no-progress   no progress line even on a terminal\n"
         "exit status: 0 every device saved (and archived), 1 some device failed or was\n"
         "  refused, 2 usage error or unreadable inventory, 3 the folder, the archive or\n"
         "  the report failed (DIR locked by another run, commit failed, ...)\n";
}

}  // namespace tarnwick::fleet
