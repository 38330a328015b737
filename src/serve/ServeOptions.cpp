#include "serve/ServeOptions.h"

#include "cliutil/BoundedDecimal.h"
#include "archive/GitArchive.h"
#include "cliutil/OptionWalk.h"

namespace tarnwick::serve {

namespace {

// Longest count typed on the command line (the largest, --max-upload-bytes,
// has 13 digits).
constexpr std::size_t kCountDigits = 15;

bool ParseCount(const std::string& text, std::uint64_t low, std::uint64_t high, std::uint64_t& out) {
  return cli::ParseBoundedDecimal(text, kCountDigits, low, high, out);
}

}  // namespace

ServeParse ParseServeArguments(const std::vector<std::string>& args) {
  ServeParse result;
  ServeOptions& o = result.options;
  auto refuse = [&](std::string why) {
    result.error = std::move(why);
    return result;
  };
  bool overwrite = false;
  cli::OptionWalk walk(args);
  while (walk.Next()) {
    const std::string& name = walk.Name();
    if (walk.IsHelp()) {
      o.help = true;
      continue;
    }
    if (walk.IsOneOf({"--single-port", "--upload", "--overwrite", "--log-json", "--quiet", "--git"})) {
      if (walk.HasInlineValue()) return refuse(name + " takes no value");
      if (name == "--single-port") o.singlePort = true;
      if (name == "--upload") o.upload.enabled = true;
      if (name == "--overwrite") overwrite = true;
      if (name == "--log-json") o.logJson = true;
      if (name == "--quiet") o.quiet = true;
      if (name == "--git") o.git = true;
      continue;
    }
    if (!walk.IsOneOf({"--port", "--listen", "--upload-dir", "--max-upload-bytes", "--max-blksize",
                       "--max-windowsize", "--max-transfers", "--per-client", "--request-rate", "--allow",
                       "--user", "--archive", "--inventory", "--git-branch", "--git-push", "--on-change",
                       "--on-failure", "--hook-timeout"}))
      return refuse("unknown option " + name);
    std::string value;
    if (!walk.TakeValue(value)) return refuse(name + " needs a value");
    std::uint64_t number = 0;
    if (name == "--port") {
      if (!ParseCount(value, 0, 65535, number)) return refuse("--port takes 0 to 65535");
      o.port = static_cast<std::uint16_t>(number);
    } else if (name == "--listen") {
      if (value.find('/') != std::string::npos || !ParseAddressRange(value))
        return refuse("--listen takes an IPv4 or IPv6 address, not " + value);
      o.listen.push_back(value);
    } else if (name == "--upload-dir") {
      if (value.empty()) return refuse("--upload-dir needs a folder");
      o.uploadDir = value;
      o.upload.enabled = true;
    } else if (name == "--max-upload-bytes") {
      if (!ParseCount(value, 1, 1ull << 40, number))
        return refuse("--max-upload-bytes takes 1 to 1099511627776");
      o.upload.maxBytes = number;
    } else if (name == "--max-blksize") {
      if (!ParseCount(value, 8, 65464, number)) return refuse("--max-blksize takes 8 to 65464");
      o.caps.maxBlockSize = static_cast<std::uint32_t>(number);
    } else if (name == "--max-windowsize") {
      if (!ParseCount(value, 1, 65535, number)) return refuse("--max-windowsize takes 1 to 65535");
      o.caps.maxWindowSize = static_cast<std::uint32_t>(number);
    } else if (name == "--max-transfers") {
      if (!ParseCount(value, 1, 100000, number)) return refuse("--max-transfers takes 1 to 100000");
      o.admission.maxTransfers = static_cast<std::size_t>(number);
    } else if (name == "--per-client") {
      if (!ParseCount(value, 1, 100000, number)) return refuse("--per-client takes 1 to 100000");
      o.admission.perClient = static_cast<std::size_t>(number);
    } else if (name == "--request-rate") {
      // Devices behind one NAT address, or a load test from one host, share
      // one bucket: the limit must be the administrator's to raise.
      if (!ParseCount(value, 0, 100000, number)) return refuse("--request-rate takes 0 to 100000");
      o.admission.requestsPerSecond = static_cast<std::uint32_t>(number);
      o.admission.burst = static_cast<std::uint32_t>(number == 0 ? 1 : 2 * number);
    } else if (name == "--allow") {
      auto range = ParseAddressRange(value);
      if (!range) return refuse("--allow takes an address or ADDRESS/LENGTH, not " + value);
      o.admission.allow.push_back(*range);
    } else if (name == "--archive" || name == "--inventory") {
      if (value.empty()) return refuse(name + " needs a " + (name == "--archive" ? "folder" : "file"));
      (name == "--archive" ? o.archive : o.inventory) = value;
    } else if (name == "--git-branch" || name == "--git-push") {
      if (std::string fault = archive::GitArchive::OptionFault(name, value); !fault.empty()) return refuse(fault);
      (name == "--git-branch" ? o.gitBranch : o.gitPush) = value;
    } else if (name == "--on-change" || name == "--on-failure") {
      (name == "--on-change" ? o.onChange : o.onFailure) = value;
    } else if (name == "--hook-timeout") {
      if (!ParseCount(value, 1, 86400, number)) return refuse("--hook-timeout takes seconds from 1 to 86400");
      o.hookTimeoutSeconds = static_cast<std::uint32_t>(number);
    } else if (name == "--user") {
      if (value.empty()) return refuse("--user needs a user name");
      o.user = value;
    }
  }
  if (o.help) {
    result.ok = true;
    return result;
  }
  const std::vector<std::string>& positional = walk.Positional();
  if (positional.size() > 1) return refuse("one ROOT folder only");
  if (positional.empty() && o.archive.empty()) return refuse("no ROOT folder given");
  if (!positional.empty()) o.root = positional[0];
  if (o.archive.empty() != o.inventory.empty())
    return refuse(o.archive.empty() ? "--inventory needs --archive" : "--archive needs --inventory");
  // With the archive every upload is a device's push: a second place for
  // uploads would take what the inventory refuses.
  if (!o.archive.empty() && (o.upload.enabled || overwrite))
    return refuse("--archive takes the inventory's pushes; it does not go with --upload or --overwrite");
  if (o.archive.empty() && (o.git || !o.onChange.empty() || !o.onFailure.empty()))
    return refuse(std::string(o.git ? "--git" : "--on-change and --on-failure") + " need --archive");
  if (!o.gitBranch.empty() && !o.git) return refuse("--git-branch needs --git");
  if (!o.gitPush.empty() && !o.git) return refuse("--git-push needs --git");
  if (!o.archive.empty()) {
    o.upload.enabled = true;
    o.upload.overwrite = false;
  }
  // A flag that would silently do nothing is a mistake worth saying.
  if (overwrite && !o.upload.enabled) return refuse("--overwrite needs --upload or --upload-dir");
  o.upload.overwrite = overwrite;
  if (o.quiet && o.logJson) return refuse("--quiet and --log-json do not go together");
  result.ok = true;
  return result;
}

std::string ServeUsageText() {
  return "usage: tarnwick-cli serve ROOT [options]\n"
         "       tarnwick-cli serve [ROOT] --archive DEST --inventory FILE [options]\n"
         "  Serves the files beneath ROOT over TFTP (RFC 1350, with the blksize, tsize,\n"
         "  timeout and windowsize options). Names are resolved beneath ROOT only: no '..',\n"
         "  no symbolic links, no devices or FIFOs. Uploads are off unless asked for.\n"
         "  --port N               UDP port (default 69)\n"
         "  --listen ADDR          listen on this address (repeatable; default IPv4 and IPv6 any)\n"
         "  --single-port          answer every transfer from the listening port (NAT, containers)\n"
         "  --upload               take uploads beneath ROOT\n"
         "  --upload-dir DIR       take uploads beneath DIR instead\n"
         "  --overwrite            let a finished upload replace an existing file\n"
         "  --max-upload-bytes N   largest upload (default 67108864)\n"
         "  --max-blksize N        largest block size granted (default 65464)\n"
         "  --max-windowsize N     largest window granted (default 64)\n"
         "  --max-transfers N      transfers at once (default 1000)\n"
         "  --per-client N         transfers at once per client address (default 8)\n"
         "  --request-rate N       requests a second per client address, twice that at once\n"
         "                         (default 20; 0: no limit)\n"
         "  --allow CIDR           serve only these addresses (repeatable; default all)\n"
         "  --user NAME            started as root: run as NAME once bound (default nobody)\n"
         "  --archive DEST         uploads are pushes of the inventory's devices, stored in\n"
         "                         backup's folder DEST (checked, history, state) as a pulled\n"
         "                         copy is; only from a device's address, only the name its\n"
         "                         push column allows, one at a time\n"
         "  --inventory FILE       backup's inventory (the push column); SIGHUP reads it again\n"
         "  --git                  commit DEST after each batch of pushes\n"
         "  --git-branch B         commit onto branch B\n"
         "  --git-push R           push the branch to R after each commit, never forced\n"
         "  --on-change CMD        run CMD for each push that changed a configuration\n"
         "  --on-failure CMD       run CMD for each push the checks refused\n"
         "  --hook-timeout S       time limit of each hook (default 60)\n"
         "  --log-json             one JSON object per transfer instead of the text line\n"
         "  --quiet                no line per transfer\n"
         "  Writes 'serve: listening on ADDR:PORT' to standard error per socket once all are\n"
         "  bound. SIGTERM or SIGINT: new requests are refused, running transfers get 10 s\n"
         "  to finish. Exit status: 0 after a stop signal, 1 when privileges cannot be\n"
         "  dropped or ROOT or DEST cannot be opened, 2 on a usage error or when no socket\n"
         "  binds.\n";
}

}  // namespace tarnwick::serve
