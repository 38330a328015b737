// Where a finished get's linger goes when the caller wants to move on: the
// result is out, and the caller (a script's loop, a backup run) must not
// wait a whole server time-out for a repeat of the last block that almost
// never comes. On POSIX the lingering sockets go to a small process of their
// own that outlives the program; Windows has no cheap way to hand a socket
// to another process, so there the driver keeps each linger to a few
// measured round trips instead (Linger::shortUntil).
#pragma once

#include <vector>

#include "net/SocketApi.h"
#include "tftp/ClientTransfer.h"

namespace tarnwick::tftp {

struct LingerHandOff {
  Linger linger;
  SocketHandle socket;
};

// At most this many sockets go to one process.
inline constexpr std::size_t kMaxHandedOff = 64;

// True when a process of its own now answers repeats on these sockets until
// each linger's end: the caller closes its copies and goes on. That process
// keeps nothing else (no standard output or error, no other descriptor), so
// a pipeline or $(...) reading the program's output ends with the program,
// and nobody ever waits for it. False when it could not be started (or on
// Windows): the caller lingers itself.
bool LingerInBackground(const std::vector<LingerHandOff>& lingers);

}  // namespace tarnwick::tftp
