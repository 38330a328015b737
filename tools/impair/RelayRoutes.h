// The relay's socket table. A TFTP server answers each transfer from a port
// of its own (its transfer ID), and the client must see that: so every
// client gets an upstream socket of its own towards the server, and every
// (upstream socket, server source port) pair gets a client-facing socket of
// its own. The client then sees a new port exactly when the server uses one,
// and an answer from a stray server port stays a stray to the client. An
// answer from the well-known port itself comes back through the listening
// socket.
// Pure bookkeeping over socket ids; the socket loop opens and closes the
// sockets the ids stand for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "Endpoint.h"

namespace tarnwick::impair {

using SocketId = std::uint32_t;
constexpr SocketId kListenSocket = 0;

class RelayRoutes {
 public:
  // maxSockets bounds the upstream and client-facing sockets together.
  RelayRoutes(Endpoint server, std::size_t maxSockets);

  struct Hop {
    SocketId via = 0;     // send from this socket...
    Endpoint to;          // ...to here
    bool opened = false;  // via is new: the loop must open it first
  };
  // A datagram from a client arrived on socket `on` (the listening socket or
  // a client-facing one). Nothing when `on` is unknown or the table is full.
  std::optional<Hop> FromClient(SocketId on, const Endpoint& from, std::uint64_t nowMs);
  // A datagram from the server side arrived on upstream socket `on`.
  std::optional<Hop> FromServer(SocketId on, const Endpoint& from, std::uint64_t nowMs);

  // Forgets sockets unused for idleMs (the loop closes them) and returns them.
  std::vector<SocketId> Expire(std::uint64_t nowMs, std::uint64_t idleMs);
  // The loop could not open `id`: forget it.
  void Remove(SocketId id);
  std::size_t Sockets() const { return upstream_.size() + facing_.size(); }

 private:
  struct Upstream {
    Endpoint client;
    std::uint64_t used = 0;
  };
  struct Facing {
    SocketId upstream = 0;
    Endpoint server;  // the server's transfer port this socket stands for
    std::uint64_t used = 0;
  };
  std::optional<SocketId> UpstreamFor(const Endpoint& client, std::uint64_t nowMs, bool& opened);

  Endpoint server_;
  std::size_t maxSockets_;
  SocketId nextId_ = kListenSocket + 1;
  std::map<SocketId, Upstream> upstream_;
  std::map<Endpoint, SocketId> upstreamByClient_;
  std::map<SocketId, Facing> facing_;
  std::map<std::pair<SocketId, Endpoint>, SocketId> facingByServer_;
};

}  // namespace tarnwick::impair
