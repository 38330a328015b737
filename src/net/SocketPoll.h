// One wait over many sockets for "a datagram is ready": poll() on POSIX,
// WSAPoll on Windows (looked up in the socket library at run time, with a
// select fallback for systems without it). Errors are Windows Sockets
// numbers through SocketLastError, like every other call of the layer.
#pragma once

#include <cstddef>

#include "net/SocketApi.h"

namespace tarnwick {

struct PollEntry {
  SocketHandle handle = kNoSocket;
  bool ready = false;  // readable, or an error is pending (a receive will tell)
};

// Waits up to timeoutMs (0 = just look) until at least one entry is ready.
// Returns the number of ready entries, 0 on time-out, -1 on error.
int PollReadable(PollEntry* entries, std::size_t count, int timeoutMs);

}  // namespace tarnwick
