#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fleet/BackupPlatform.h"

namespace tarnwick::fleet {

void EndProcessAtOnce() {
  ::kill(::getpid(), SIGKILL);
  ::_exit(137);  // never reached
}

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

std::string ExposedSecretsWarning(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) == 0) return {};
  return path + " holds passwords and other users may read it: chmod 600 " + path;
}

}  // namespace tarnwick::fleet
