#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fleet/BackupPlatform.h"

namespace tarnwick::fleet {

namespace {

volatile sig_atomic_t g_stop = 0;
struct sigaction g_previousInt, g_previousTerm;

extern "C" void OnStopSignal(int) { g_stop = 1; }

}  // namespace

int FitJobsToDescriptors(int wanted, std::string& warning) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return wanted;
  const std::uint64_t need = kReservedDescriptors + kDescriptorsPerJob * static_cast<std::uint64_t>(wanted);
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < need) {
    rlimit raised = limit;
    raised.rlim_cur = (limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= need) ? need : limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY) return wanted;
  int fit = JobsForDescriptorLimit(wanted, limit.rlim_cur);
  if (fit < wanted)
    warning = "--jobs " + std::to_string(wanted) + " needs " + std::to_string(need) +
              " file descriptors, the limit is " + std::to_string(limit.rlim_cur) + " (ulimit -n): running " +
              std::to_string(fit) + " at once";
  return fit;
}

StopSignals::StopSignals() {
  g_stop = 0;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &g_previousInt);
  ::sigaction(SIGTERM, &action, &g_previousTerm);
}

StopSignals::~StopSignals() {
  ::sigaction(SIGINT, &g_previousInt, nullptr);
  ::sigaction(SIGTERM, &g_previousTerm, nullptr);
}

bool StopSignals::Requested() { return g_stop != 0; }
void StopSignals::Reset() { g_stop = 0; }

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::string ExposedSecretsWarning(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) == 0) return {};
  return path + " holds passwords and other users may read it: chmod 600 " + path;
}

}  // namespace tarnwick::fleet
