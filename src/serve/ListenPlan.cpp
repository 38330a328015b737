#include "serve/ListenPlan.h"

namespace tarnwick::serve {

namespace {

constexpr int kFirstActivatedFd = 3;    // SD_LISTEN_FDS_START
constexpr long kMostActivatedFds = 64;  // far more than a TFTP server is given

bool ParsePositive(const char* text, long most, long& out) {
  if (!text || !*text) return false;
  long value = 0;
  for (const char* c = text; *c; ++c) {
    if (*c < '0' || *c > '9' || value > most / 10) return false;
    value = value * 10 + (*c - '0');
  }
  if (value < 1 || value > most) return false;
  out = value;
  return true;
}

}  // namespace

std::vector<int> ActivatedSockets(const char* listenPid, const char* listenFds, long ownPid,
                                  std::string& error) {
  std::vector<int> fds;
  long pid = 0, count = 0;
  // Variables meant for another process (a parent that did not clear them)
  // are none of ours.
  if (!listenPid || !ParsePositive(listenPid, 0x7fffffffL, pid) || pid != ownPid) return fds;
  if (!ParsePositive(listenFds, kMostActivatedFds, count)) {
    error = "socket activation: LISTEN_FDS is not a count from 1 to 64";
    return fds;
  }
  for (long i = 0; i < count; ++i) fds.push_back(kFirstActivatedFd + static_cast<int>(i));
  return fds;
}

ListenPlan PlanListening(const std::vector<std::string>& listen, std::uint16_t port,
                         const std::vector<int>& activated) {
  ListenPlan plan;
  if (!activated.empty()) {
    if (!listen.empty()) {
      plan.error = "--listen does not go with sockets passed by systemd";
      return plan;
    }
    for (int fd : activated) plan.sockets.push_back(ListenSocket{"", 0, false, true, fd});
    return plan;
  }
  if (listen.empty()) {
    plan.sockets.push_back(ListenSocket{"0.0.0.0", port, false, false, -1});
    plan.sockets.push_back(ListenSocket{"::", port, true, false, -1});
    return plan;
  }
  for (const std::string& address : listen) {
    // An IPv6 socket for "::" alone would also take IPv4 on some systems and
    // then clash with an explicit IPv4 address on the same port.
    const bool v6 = address.find(':') != std::string::npos;
    plan.sockets.push_back(ListenSocket{address, port, v6, true, -1});
  }
  return plan;
}

}  // namespace tarnwick::serve
