#include "fleet/Metrics.h"

#include <cstdlib>
#include <utility>
#include <vector>

namespace tarnwick::fleet {

namespace {

constexpr const char* kPrefix = "tarnwick_backup_";

std::vector<std::pair<const char*, std::size_t RunTotals::*>> Results() {
  return {{"new", &RunTotals::created},
          {"changed", &RunTotals::changed},
          {"unchanged", &RunTotals::unchanged},
          {"failed", &RunTotals::failed},
          {"interrupted", &RunTotals::interrupted},
          {"not reached", &RunTotals::notReached},
          {"disabled", &RunTotals::disabled},
          {"pushed", &RunTotals::pushed},
          {"not pushed", &RunTotals::notPushed}};
}

void Gauge(std::string& out, const std::string& name, const std::string& help, long long value) {
  out += "# HELP " + (kPrefix + name) + " " + help + "\n# TYPE " + kPrefix + name + " gauge\n" + kPrefix +
         name + " " + std::to_string(value) + "\n";
}

// The value of the sample line `name` (with its labels) in text, if any.
bool Sample(const std::string& text, const std::string& name, long long& value) {
  const std::string key = "\n" + (kPrefix + name) + " ";
  const std::size_t at = ("\n" + text).find(key);
  if (at == std::string::npos) return false;
  char* end = nullptr;
  value = std::strtoll(text.c_str() + at + key.size() - 1, &end, 10);
  return end && (*end == '\n' || *end == '\0');
}

}  // namespace

std::string MetricsText(const RunMetrics& m) {
  std::string out;
  Gauge(out, "running", "1 from the start of a run until it finishes; stays 1 when a run dies", m.running);
  Gauge(out, "last_start_timestamp_seconds", "When the last run started.", m.started);
  Gauge(out, "last_finish_timestamp_seconds", "When the last finished run ended (0: none yet).", m.finished);
  Gauge(out, "last_duration_seconds", "How long the last finished run took.", m.durationSeconds);
  out +=
      "# HELP tarnwick_backup_devices Devices of the last finished run by result.\n"
      "# TYPE tarnwick_backup_devices gauge\n";
  for (const auto& [label, member] : Results())
    out +=
        std::string(kPrefix) + "devices{result=\"" + label + "\"} " + std::to_string(m.totals.*member) + "\n";
  Gauge(out, "stale_devices", "Devices without a success for longer than --stale at the last finished run.",
        static_cast<long long>(m.stale));
  return out;
}

RunMetrics FinishedRunIn(const std::string& text) {
  RunMetrics m;
  long long value = 0;
  if (!Sample(text, "last_finish_timestamp_seconds", value) || value <= 0) return m;
  m.finished = value;
  if (Sample(text, "last_duration_seconds", value)) m.durationSeconds = value;
  if (Sample(text, "stale_devices", value) && value >= 0) m.stale = static_cast<std::size_t>(value);
  for (const auto& [label, member] : Results())
    if (Sample(text, std::string("devices{result=\"") + label + "\"}", value) && value >= 0)
      m.totals.*member = static_cast<std::size_t>(value);
  return m;
}

}  // namespace tarnwick::fleet
