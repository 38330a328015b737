// --metrics FILE.prom: the run's heartbeat in the text format the
// node_exporter textfile collector reads. Written when the run starts
// (running 1, with the last finished run's figures carried over) and again
// when it ends, so a run that was killed or crashed shows as one that
// started and never finished, not as last night's good news.
#pragma once

#include <cstdint>
#include <string>

#include "fleet/BackupReport.h"

namespace tarnwick::fleet {

struct RunMetrics {
  bool running = false;
  std::int64_t started = 0;   // UTC seconds
  std::int64_t finished = 0;  // UTC seconds, 0 for none yet
  std::int64_t durationSeconds = 0;
  RunTotals totals;
  std::size_t stale = 0;
};

std::string MetricsText(const RunMetrics& metrics);

// The figures of the last finished run in an earlier file of ours (none
// when the text holds none): what the start of a run carries over.
RunMetrics FinishedRunIn(const std::string& text);

}  // namespace tarnwick::fleet
