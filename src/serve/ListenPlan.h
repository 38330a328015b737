// Which sockets the server listens on. Sockets handed over by systemd
// (LISTEN_PID / LISTEN_FDS) are taken as they are; otherwise each --listen
// address is bound and must succeed; with none, IPv4 any and IPv6 any
// (IPv6 only, so both can share the port) are tried and the server starts
// when either binds, since many hosts lack one of the families.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::serve {

struct ListenSocket {
  std::string address;  // literal; empty for an inherited socket
  std::uint16_t port = 0;
  bool ipv6Only = false;
  bool required = true;  // false: a failed bind is logged, not fatal
  int inheritedFd = -1;  // from socket activation
};

struct ListenPlan {
  std::vector<ListenSocket> sockets;
  std::string error;  // a usage error; sockets empty
};

// The descriptors systemd passed (3, 4, ...), when LISTEN_PID names this
// process; none otherwise, or when the variables are malformed (error set).
std::vector<int> ActivatedSockets(const char* listenPid, const char* listenFds, long ownPid,
                                  std::string& error);

ListenPlan PlanListening(const std::vector<std::string>& listen, std::uint16_t port,
                         const std::vector<int>& activated);

}  // namespace tarnwick::serve
