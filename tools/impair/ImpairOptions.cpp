#include "ImpairOptions.h"

#include <cerrno>
#include <cstdlib>

namespace tarnwick::impair {

const char kRelayUsage[] =
    "usage: tarnwick-impair --server ADDR:PORT [--listen ADDR:PORT] [--seed N]\n"
    "  per direction (both, or prefixed c2s- / s2c-):\n"
    "  --loss P --dup P --reorder P (0..1)  --delay MS --jitter MS\n"
    "  --reorder-depth N (later datagrams that overtake a held one)  --hold-max MS\n"
    "  --queue-cap N  --max-sockets N  --idle-ms MS\n"
    "Prints the listening port on stdout when ready; stops on SIGTERM.\n";

namespace {

bool ParseUnsigned(const std::string& text, std::uint64_t max, std::uint64_t& out) {
  if (text.empty() || text.size() > 19) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > max) return false;
  out = value;
  return true;
}

bool ParseProbability(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size() || !(value >= 0.0 && value <= 1.0)) return false;
  out = value;
  return true;
}

// One impairment option into the settings of one direction.
bool ApplyDirectional(const std::string& name, const std::string& value, DirectionSettings& s) {
  std::uint64_t n = 0;
  if (name == "loss") return ParseProbability(value, s.loss);
  if (name == "dup") return ParseProbability(value, s.duplicate);
  if (name == "reorder") return ParseProbability(value, s.reorder);
  if (!ParseUnsigned(value, 3600000, n)) return false;
  if (name == "delay")
    s.delayMs = static_cast<std::uint32_t>(n);
  else if (name == "jitter")
    s.jitterMs = static_cast<std::uint32_t>(n);
  else if (name == "hold-max")
    s.holdMaxMs = static_cast<std::uint32_t>(n);
  else if (name == "reorder-depth" && n >= 1)
    s.reorderDepth = static_cast<std::uint32_t>(n);
  else
    return false;
  return true;
}

bool IsDirectional(const std::string& name) {
  for (const char* known : {"loss", "dup", "reorder", "delay", "jitter", "hold-max", "reorder-depth"})
    if (name == known) return true;
  return false;
}

}  // namespace

std::uint64_t DirectionSeed(std::uint64_t seed, bool toServer) {
  Rng mix(seed ^ (toServer ? 0x6332730000000001ull : 0x7332630000000002ull));
  return mix.Next();
}

std::string ParseRelayOptions(const std::vector<std::string>& args, RelayOptions& out) {
  RelayOptions o;
  ParseEndpoint("127.0.0.1:0", o.listen);
  bool haveServer = false, haveListen = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.compare(0, 2, "--") != 0) return "unexpected argument: " + arg;
    if (i + 1 >= args.size()) return arg + " needs a value";
    const std::string name = arg.substr(2), value = args[++i];
    std::uint64_t n = 0;
    if (name == "server") {
      if (!ParseEndpoint(value, o.server) || o.server.port == 0) return "bad --server address: " + value;
      haveServer = true;
    } else if (name == "listen") {
      if (!ParseEndpoint(value, o.listen)) return "bad --listen address: " + value;
      haveListen = true;
    } else if (name == "seed") {
      if (!ParseUnsigned(value, UINT64_MAX / 10, o.seed)) return "bad --seed: " + value;
    } else if (name == "queue-cap" || name == "max-sockets" || name == "idle-ms") {
      if (!ParseUnsigned(value, 100000000, n) || n == 0) return "bad " + arg + ": " + value;
      if (name == "queue-cap")
        o.queueCapacity = n;
      else if (name == "max-sockets")
        o.maxSockets = n;
      else
        o.idleMs = n;
    } else if (IsDirectional(name)) {
      if (!ApplyDirectional(name, value, o.toServer) || !ApplyDirectional(name, value, o.toClient))
        return "bad " + arg + ": " + value;
    } else if ((name.compare(0, 4, "c2s-") == 0 || name.compare(0, 4, "s2c-") == 0) &&
               IsDirectional(name.substr(4))) {
      DirectionSettings& s = name[0] == 'c' ? o.toServer : o.toClient;
      if (!ApplyDirectional(name.substr(4), value, s)) return "bad " + arg + ": " + value;
    } else {
      return "unknown option: " + arg;
    }
  }
  if (!haveServer) return "--server is required";
  if (!haveListen && o.server.family == 6) ParseEndpoint("[::1]:0", o.listen);
  out = o;
  return {};
}

}  // namespace tarnwick::impair
