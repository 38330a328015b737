#include "FleetSimProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace tarnwick::fleet_sim {

FleetSim::FleetSim(std::vector<SimDevice>& devices, const std::string& scratch) {
  const std::string table = scratch + "/sim-table.txt";
  statsPath_ = scratch + "/sim-stats.txt";
  {
    std::ofstream out(table);
    for (const SimDevice& d : devices)
      out << d.name << ' ' << d.behaviour << ' ' << d.size << ' ' << d.version << ' '
          << (d.password.empty() ? d.remote : d.remote + "/" + d.password) << '\n';
  }
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) {
    error_ = "pipe failed";
    return;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    ::execl(FLEET_SIM_PATH, FLEET_SIM_PATH, table.c_str(), "--stats", statsPath_.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  pid_ = pid;
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  char buffer[4096];
  while (text.find("ready\n") == std::string::npos) {
    pollfd p{pipeFds[0], POLLIN, 0};
    if (std::chrono::steady_clock::now() > deadline || ::poll(&p, 1, 1000) < 0) break;
    if (!(p.revents & (POLLIN | POLLHUP))) continue;
    ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipeFds[0]);
  if (text.find("ready\n") == std::string::npos) {
    error_ = "the simulator did not start: " + text;
    return;
  }
  std::istringstream lines(text);
  std::map<std::string, std::pair<std::string, unsigned>> where;
  std::string word, name, address;
  unsigned port = 0;
  while (lines >> word && word == "device" && lines >> name >> address >> port) where[name] = {address, port};
  for (SimDevice& d : devices) {
    d.address = where[d.name].first;
    d.port = static_cast<std::uint16_t>(where[d.name].second);
    if (d.port == 0) error_ = "no address for " + d.name;
  }
}

FleetSim::~FleetSim() { Stop(); }

std::map<std::string, SimStats> FleetSim::Stop() {
  std::map<std::string, SimStats> stats;
  if (pid_ <= 0) return stats;
  ::kill(static_cast<pid_t>(pid_), SIGTERM);
  int status = 0;
  ::waitpid(static_cast<pid_t>(pid_), &status, 0);
  pid_ = 0;
  std::ifstream in(statsPath_);
  std::string name;
  SimStats s;
  while (in >> name >> s.requests >> s.done >> s.strayError5) stats[name] = s;
  return stats;
}

std::string InventoryFor(const std::vector<SimDevice>& devices) {
  std::string text =
      "# devices of the fleet "
      "simulator\nname,host,port,remote,password,delimiter,blksize,windowsize,timeout,retries,tsize,min_"
      "ratio,"
      "expect\n";
  for (const SimDevice& d : devices) {
    std::string cells = d.extraCells;  // the last columns may be left out
    while (std::count(cells.begin(), cells.end(), ',') < 7) cells += ',';
    text += d.name + "," + d.address + "," + std::to_string(d.port) + "," + d.remote + "," + d.password +
            ",/" + cells + "\n";
  }
  return text;
}

ProcessResult RunCommand(const std::string& command, const std::function<void(const std::string&)>& seen) {
  ProcessResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  for (ssize_t n; (n = ::read(::fileno(pipe), buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
    if (n > 0 && (result.output.append(buffer, static_cast<std::size_t>(n)), seen)) seen(result.output);
  int raw = ::pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

}  // namespace tarnwick::fleet_sim
