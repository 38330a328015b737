#include "cli/CliOptions.h"

#include <cerrno>
#include <cstdlib>

#include "cliutil/LocalFiles.h"
#include "cliutil/OptionWalk.h"

#ifndef TARNWICK_VERSION
#define TARNWICK_VERSION "0.0.0"
#endif

namespace tarnwick::cli {

namespace {

bool ParseInteger(const std::string& text, long long low, long long high, long long& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high) return false;
  out = value;
  return true;
}

ParseResult Refuse(std::string why) {
  ParseResult r;
  r.error = std::move(why);
  return r;
}

bool IsFlag(const std::string& name) {
  static const char* const kFlags[] = {"--help",  "--quiet", "--raw-name", "--version", "--no-options",
                                       "--tsize", "--json",  "-4",         "-6"};
  for (const char* flag : kFlags)
    if (name == flag) return true;
  return false;
}

bool TakesValue(const std::string& name) {
  static const char* const kValued[] = {"--port",    "--password", "--password-file", "--delimiter",
                                        "--timeout", "--engine",   "--blksize",       "--windowsize",
                                        "--retries", "--progress"};
  for (const char* option : kValued)
    if (name == option) return true;
  return false;
}

// One option with its value; an empty result means accepted. Messages name
// the option and the allowed range, never the value (it may be a password).
std::string Apply(Options& o, const std::string& name, const std::string& value, bool& passwordOption) {
  long long n = 0;
  if (name == "--help") o.help = true;
  if (name == "--version") o.version = true;
  if (name == "--quiet") o.quiet = true;
  if (name == "--raw-name") o.rawName = true;
  if (name == "--no-options") o.noOptions = true;
  if (name == "--tsize") o.transferSize = true;
  if (name == "--json") o.json = true;
  if (name == "-4" || name == "-6") {
    int family = name == "-4" ? 4 : 6;
    if (o.family != 0 && o.family != family) return "-4 and -6 exclude each other";
    o.family = family;
  }
  if (name == "--port") {
    // Numbers only: a service name or 99999 would otherwise be resolved
    // into some other port, or fail later with a less clear message.
    if (!ParseInteger(value, 1, 65535, n)) return "--port takes a port number from 1 to 65535";
    o.port = std::to_string(n);
  } else if (name == "--password") {
    o.password = value;
    passwordOption = true;
  } else if (name == "--password-file") {
    if (value.empty()) return "--password-file needs a file name";
    o.passwordFile = value;
  } else if (name == "--delimiter") {
    o.delimiter = value;
  } else if (name == "--timeout") {
    if (!ParseInteger(value, -1, INT32_MAX, n))
      return "--timeout takes milliseconds from -1 (no limit, window engine only) to 2147483647";
    o.timeoutMs = static_cast<std::int32_t>(n);
  } else if (name == "--engine") {
    if (value == "window")
      o.engine = EngineChoice::Window;
    else if (value == "streaming")
      o.engine = EngineChoice::Streaming;
    else
      return "--engine takes streaming or window";
  } else if (name == "--blksize") {
    if (!ParseInteger(value, 8, 65464, n)) return "--blksize takes a block size from 8 to 65464";
    o.blockSize = static_cast<std::uint32_t>(n);
  } else if (name == "--windowsize") {
    if (!ParseInteger(value, 1, 65535, n)) return "--windowsize takes a window from 1 to 65535 blocks";
    o.windowSize = static_cast<std::uint32_t>(n);
  } else if (name == "--retries") {
    if (!ParseInteger(value, 0, 1000, n)) return "--retries takes a count from 0 to 1000";
    o.retries = static_cast<int>(n);
  } else if (name == "--progress") {
    if (value == "auto")
      o.progress = ProgressMode::Auto;
    else if (value == "always")
      o.progress = ProgressMode::Always;
    else if (value == "never")
      o.progress = ProgressMode::Never;
    else
      return "--progress takes auto, always or never";
  }
  return {};
}

// Combinations that no single option can refuse on its own.
std::string CheckCombinations(const Options& o, const std::vector<std::string>& seen) {
  auto given = [&](const char* name) {
    for (const std::string& s : seen)
      if (s == name) return true;
    return false;
  };
  if (o.engine == EngineChoice::Window) {
    static const char* const kStreamingOnly[] = {"--blksize",    "--windowsize", "--retries",
                                                 "--no-options", "--tsize",      "--progress",
                                                 "--json",       "-4",           "-6"};
    for (const char* name : kStreamingOnly)
      if (given(name)) return std::string(name) + " needs the streaming engine (not with --engine window)";
  } else if (o.timeoutMs && *o.timeoutMs < 1) {
    return "--timeout below 1 ms needs --engine window (the streaming engine always retransmits)";
  }
  if (o.noOptions)
    for (const char* name : {"--blksize", "--windowsize", "--tsize"})
      if (given(name)) return std::string("--no-options and ") + name + " exclude each other";
  if (given("--password") && given("--password-file"))
    return "--password and --password-file exclude each other";
  return {};
}

// "192.0.2.1": four dotted numbers, what the resolver would take as an IPv4
// address rather than a name.
bool IsIPv4Literal(const std::string& host) {
  int dots = 0, digits = 0;
  for (char c : host) {
    if (c == '.') {
      if (digits == 0) return false;
      ++dots;
      digits = 0;
    } else if (c >= '0' && c <= '9') {
      if (++digits > 3) return false;
    } else {
      return false;
    }
  }
  return dots == 3 && digits > 0;
}

// A colon appears in no host name, only in IPv6 addresses ("::1", "[::1]").
bool IsIPv6Literal(const std::string& host) { return host.find(':') != std::string::npos; }

ParseResult ParseLine(const std::vector<std::string>& args, const Environment& environment);

}  // namespace

std::string LastPathComponent(const std::string& path) {
  std::size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

ParseResult ParseArguments(const std::vector<std::string>& args, const Environment& environment) {
  ParseResult result = ParseLine(args, environment);
  // A refused line still owes a --json caller its one object.
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--json") result.json = true;
  }
  for (const std::string& arg : args)
    if (arg == "get" || arg == "put") {
      result.command = arg;
      break;
    }
  return result;
}

namespace {

ParseResult ParseLine(const std::vector<std::string>& args, const Environment& environment) {
  ParseResult result;
  Options& o = result.options;
  std::vector<std::string> seen;
  bool passwordOption = false;
  OptionWalk walk(args);
  while (walk.Next()) {
    // "-" alone is a file (standard input or output); any other word that
    // starts with a dash is meant as an option, and an unknown one must not
    // quietly become a file name.
    const std::string& arg = walk.Word();
    const bool shortFamily = arg == "-4" || arg == "-6";
    if (!shortFamily && arg[1] != '-')
      return Refuse("unknown option " + arg + " (use -- before a file name that starts with -)");
    const std::string& name = walk.Name();
    std::string value;
    if (IsFlag(name)) {
      if (walk.HasInlineValue()) return Refuse(name + " takes no value");
    } else if (TakesValue(name)) {
      if (!walk.TakeValue(value)) return Refuse(name + " needs a value");
    } else {
      return Refuse("unknown option " + name);
    }
    seen.push_back(name);
    if (std::string why = Apply(o, name, value, passwordOption); !why.empty()) return Refuse(why);
  }
  if (std::string why = CheckCombinations(o, seen); !why.empty()) return Refuse(why);
  // The line beats the environment: a password typed for this one run is
  // meant to override the one exported for the session.
  if (passwordOption)
    o.passwordSource = PasswordSource::Option;
  else if (!o.passwordFile.empty())
    o.passwordSource = PasswordSource::File;
  else if (environment.password) {
    o.passwordSource = PasswordSource::Environment;
    o.password = *environment.password;
  }
  if (o.help || o.version) {
    result.ok = true;
    return result;
  }
  const std::vector<std::string>& positional = walk.Positional();
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
  if (o.family == 4 && IsIPv6Literal(o.host))
    return Refuse("-4 and the IPv6 address " + o.host + " exclude each other");
  if (o.family == 6 && IsIPv4Literal(o.host))
    return Refuse("-6 and the IPv4 address " + o.host + " exclude each other");
  if (o.json && o.command == Command::Get && o.local == "-")
    return Refuse("--json and LOCAL - exclude each other (both would use standard output)");
  result.ok = true;
  return result;
}

}  // namespace

void ResolvePassword(Options& options) {
  if (options.passwordSource != PasswordSource::File) return;
  std::string text = ReadSmallFile(options.passwordFile, "password file");
  // Editors and `echo` end the file with a line break that is no part of
  // the password; only one is taken, so a password may still end in blanks.
  if (!text.empty() && text.back() == '\n') {
    text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
  }
  options.password = text;
}

std::string UsageText() {
  return "usage: tarnwick-cli get HOST REMOTE [LOCAL]\n"
         "       tarnwick-cli put HOST LOCAL [REMOTE]\n"
         "       tarnwick-cli backup INVENTORY --dest DIR [options]   (see tarnwick-cli backup --help)\n"
         "       tarnwick-cli serve ROOT [options]                    (see tarnwick-cli serve --help)\n"
         "       tarnwick-cli serve [ROOT] --archive DEST --inventory FILE [options]\n"
         "HOST is a name, an IPv4 address or an IPv6 address (::1 or [::1]).\n"
         "options:\n"
         "  --port PORT          server port, 1..65535 (default 69)\n"
         "  --password TEXT      access password, joined to the remote name (shows in the\n"
         "                       process list: prefer --password-file or TARNWICK_PASSWORD)\n"
         "  --password-file FILE read the password from FILE (one trailing line break is dropped)\n"
         "  --delimiter TEXT     text between remote name and password (default \"/\")\n"
         "  --timeout MS         first wait for an answer (to the request) and a get's linger;\n"
         "                       later waits follow the measured round trip, doubled after each\n"
         "                       time-out in a row up to 8 times MS (default 1000); window\n"
         "                       engine: the one wait for each answer, -1 for none (default 5000)\n"
         "  --retries N          time-outs in a row before giving up, 0..1000 (default 5)\n"
         "  --blksize N          ask for blocks of N bytes, 8..65464 (RFC 2348)\n"
         "  --windowsize N       ask for N blocks per acknowledgement, 1..65535 (RFC 7440)\n"
         "  --tsize              ask for / announce the file size (RFC 2349)\n"
         "  --no-options         plain RFC 1350 request (the default when no option above is\n"
         "                       given); refuses --blksize, --windowsize and --tsize\n"
         "  -4, -6               use IPv4 / IPv6 only when HOST is a name\n"
         "  --progress WHEN      auto (a progress line when standard error is a terminal),\n"
         "                       always or never (default auto)\n"
         "  --json               one JSON object with the result on standard output\n"
         "  --engine NAME        streaming (default) or window: the window's own engine, in\n"
         "                       memory, for reproducing what the window does; the options\n"
         "                       from --retries to --json above need the streaming engine\n"
         "  --quiet              print only failures\n"
         "  --raw-name           send the remote name as typed, without conversion to CP932\n"
         "  --version            version number\n"
         "  --help               this text\n"
         "password: --password or --password-file (not both) beat TARNWICK_PASSWORD.\n"
         "LOCAL - is standard output (get) or input (put); a folder as LOCAL of a get receives\n"
         "the file under the remote name's last part; -- ends the options.\n"
         "exit status: 0 done, 1 transfer failed or interrupted, 2 usage or local file error\n"
         "(with --json, one JSON object on standard output in every case)\n";
}

std::string VersionText() { return std::string("tarnwick-cli ") + TARNWICK_VERSION + "\n"; }

}  // namespace tarnwick::cli
