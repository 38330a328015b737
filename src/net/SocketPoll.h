// One wait over many sockets for "a datagram is ready": poll() on POSIX,
// WSAPoll on Windows (looked up in the socket library at run time, with a
// select fallback for systems without it). Errors are Windows Sockets
// numbers through SocketLastError, like every other call of the layer.
//
// SocketPollSet is the same wait kept from turn to turn: sockets join when
// they open and leave before they close, so a wait costs nothing per idle
// socket where the system keeps a readiness queue (epoll on Linux); on
// Windows the set is kept as the array WSAPoll takes, never rebuilt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "net/SocketApi.h"

namespace tarnwick {

struct PollEntry {
  SocketHandle handle = kNoSocket;
  bool ready = false;  // readable, or an error is pending (a receive will tell)
};

// Waits up to timeoutMs (0 = just look) until at least one entry is ready.
// Returns the number of ready entries, 0 on time-out, -1 on error.
int PollReadable(PollEntry* entries, std::size_t count, int timeoutMs);

class SocketPollSet {
 public:
  SocketPollSet();
  ~SocketPollSet();
  SocketPollSet(const SocketPollSet&) = delete;
  SocketPollSet& operator=(const SocketPollSet&) = delete;

  // Watches handle for datagrams; tag names it in Wait's answer. False when
  // the system refuses (SocketLastError tells why).
  bool Add(SocketHandle handle, std::uint64_t tag);
  // Before the handle is closed: a closed handle's number may come back as
  // another socket's.
  void Remove(SocketHandle handle);
  std::size_t Size() const;
  // Waits up to timeoutMs (0 = just look) until a watched socket is
  // readable (or has an error pending); the tags of the ready ones replace
  // ready's contents. Returns their number, 0 on time-out or a signal, -1
  // on error. A socket left with datagrams unread is ready again next time.
  int Wait(int timeoutMs, std::vector<std::uint64_t>& ready);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarnwick
