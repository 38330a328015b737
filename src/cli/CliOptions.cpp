#include "cli/CliOptions.h"

#include <cerrno>
#include <cstdlib>

namespace tarnwick::cli {

namespace {

bool ParseTimeout(const std::string& text, std::int32_t& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < -1 || value > INT32_MAX) return false;
  out = static_cast<std::int32_t>(value);
  return true;
}

ParseResult Refuse(std::string why) {
  ParseResult r;
  r.error = std::move(why);
  return r;
}

}  // namespace

std::string LastPathComponent(const std::string& path) {
  std::size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

ParseResult ParseArguments(const std::vector<std::string>& args) {
  ParseResult result;
  Options& o = result.options;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg, value;
    bool hasValue = false;
    if (std::size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }
    if (name == "--help" || name == "--quiet" || name == "--raw-name") {
      if (hasValue) return Refuse(name + " takes no value");
      if (name == "--help") o.help = true;
      if (name == "--quiet") o.quiet = true;
      if (name == "--raw-name") o.rawName = true;
      continue;
    }
    if (name != "--port" && name != "--password" && name != "--delimiter" && name != "--timeout")
      return Refuse("unknown option " + name);
    if (!hasValue) {
      if (i + 1 >= args.size()) return Refuse(name + " needs a value");
      value = args[++i];
    }
    if (name == "--port") {
      if (value.empty()) return Refuse("--port needs a value");
      o.port = value;
    } else if (name == "--password") {
      o.password = value;
    } else if (name == "--delimiter") {
      o.delimiter = value;
    } else if (!ParseTimeout(value, o.timeoutMs)) {
      return Refuse("--timeout takes milliseconds from -1 (no limit) to 2147483647");
    }
  }
  if (o.help) {
    result.ok = true;
    return result;
  }
  if (positional.empty()) return Refuse("missing command (get or put)");
  if (positional[0] == "get")
    o.command = Command::Get;
  else if (positional[0] == "put")
    o.command = Command::Put;
  else
    return Refuse("unknown command " + positional[0]);
  if (positional.size() < 3) return Refuse("missing arguments");
  if (positional.size() > 4) return Refuse("too many arguments");
  o.host = positional[1];
  if (o.host.empty()) return Refuse("empty host");
  if (o.command == Command::Get) {
    o.remote = positional[2];
    o.local = positional.size() == 4 ? positional[3] : LastPathComponent(o.remote);
  } else {
    o.local = positional[2];
    o.remote = positional.size() == 4 ? positional[3] : LastPathComponent(o.local);
  }
  if (o.local.empty()) return Refuse("no local file name");
  result.ok = true;
  return result;
}

std::string UsageText() {
  return "usage: tarnwick-cli get HOST REMOTE [LOCAL]\n"
         "       tarnwick-cli put HOST LOCAL [REMOTE]\n"
         "options:\n"
         "  --port PORT        server port or service name (default 69)\n"
         "  --password TEXT    access password, joined to the remote name\n"
         "  --delimiter TEXT   text between remote name and password (default \"/\")\n"
         "  --timeout MS       longest wait for each answer, -1 for none (default 5000)\n"
         "  --quiet            print only failures\n"
         "  --raw-name         send the remote name as typed, without conversion to CP932\n"
         "  --help             this text\n"
         "exit status: 0 done, 1 transfer failed, 2 usage or local file error\n";
}

}  // namespace tarnwick::cli
