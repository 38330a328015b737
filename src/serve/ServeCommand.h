// `tarnwick-cli serve ROOT [options]`: binds the listening sockets, drops
// root's privileges, opens ROOT (and the upload folder) and runs the loop
// until a stop signal, writing one line per listening socket and one per
// finished transfer.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace tarnwick::serve {

inline constexpr int kServeExitDone = 0;
inline constexpr int kServeExitFailed = 1;  // could not drop privileges or open ROOT
inline constexpr int kServeExitUsage = 2;   // usage error, or no socket could be bound

struct ServeEnvironment {
  const char* listenPid = nullptr;  // LISTEN_PID / LISTEN_FDS, when set
  const char* listenFds = nullptr;
  long ownPid = 0;
  std::function<bool()> stopRequested;
};

// args: what follows "serve". Listening and human lines go to err, JSON
// lines to out.
int RunServe(const std::vector<std::string>& args, const ServeEnvironment& environment, std::ostream& out,
             std::ostream& err);

}  // namespace tarnwick::serve
