#include "RelayRoutes.h"

namespace tarnwick::impair {

RelayRoutes::RelayRoutes(Endpoint server, std::size_t maxSockets)
    : server_(server), maxSockets_(maxSockets) {}

std::optional<SocketId> RelayRoutes::UpstreamFor(const Endpoint& client, std::uint64_t nowMs, bool& opened) {
  auto known = upstreamByClient_.find(client);
  if (known != upstreamByClient_.end()) {
    upstream_[known->second].used = nowMs;
    return known->second;
  }
  if (Sockets() >= maxSockets_) return std::nullopt;
  const SocketId id = nextId_++;
  upstream_[id] = Upstream{client, nowMs};
  upstreamByClient_[client] = id;
  opened = true;
  return id;
}

std::optional<RelayRoutes::Hop> RelayRoutes::FromClient(SocketId on, const Endpoint& from,
                                                        std::uint64_t nowMs) {
  Hop hop;
  if (on == kListenSocket) {
    hop.to = server_;
  } else {
    auto facing = facing_.find(on);
    if (facing == facing_.end()) return std::nullopt;
    facing->second.used = nowMs;
    hop.to = facing->second.server;
  }
  // A client other than the one this socket was opened for gets an upstream
  // socket of its own, so the server sees a stranger too.
  auto via = UpstreamFor(from, nowMs, hop.opened);
  if (!via) return std::nullopt;
  hop.via = *via;
  return hop;
}

std::optional<RelayRoutes::Hop> RelayRoutes::FromServer(SocketId on, const Endpoint& from,
                                                        std::uint64_t nowMs) {
  auto upstream = upstream_.find(on);
  if (upstream == upstream_.end()) return std::nullopt;
  upstream->second.used = nowMs;
  Hop hop;
  hop.to = upstream->second.client;
  // A server answering from its well-known port (some small devices do) is
  // seen by the client at the port it sent its request to.
  if (from == server_) {
    hop.via = kListenSocket;
    return hop;
  }
  auto known = facingByServer_.find({on, from});
  if (known != facingByServer_.end()) {
    facing_[known->second].used = nowMs;
    hop.via = known->second;
    return hop;
  }
  if (Sockets() >= maxSockets_) return std::nullopt;
  hop.via = nextId_++;
  hop.opened = true;
  facing_[hop.via] = Facing{on, from, nowMs};
  facingByServer_[{on, from}] = hop.via;
  return hop;
}

void RelayRoutes::Remove(SocketId id) {
  auto up = upstream_.find(id);
  if (up != upstream_.end()) {
    upstreamByClient_.erase(up->second.client);
    upstream_.erase(up);
  }
  auto facing = facing_.find(id);
  if (facing != facing_.end()) {
    facingByServer_.erase({facing->second.upstream, facing->second.server});
    facing_.erase(facing);
  }
}

std::vector<SocketId> RelayRoutes::Expire(std::uint64_t nowMs, std::uint64_t idleMs) {
  auto idle = [&](std::uint64_t used) { return nowMs >= used && nowMs - used >= idleMs; };
  std::vector<SocketId> gone;
  for (const auto& [id, up] : upstream_)
    if (idle(up.used)) gone.push_back(id);
  // A client-facing socket whose upstream one goes could never forward again.
  for (const auto& [id, facing] : facing_) {
    auto up = upstream_.find(facing.upstream);
    if (idle(facing.used) || up == upstream_.end() || idle(up->second.used)) gone.push_back(id);
  }
  for (SocketId id : gone) Remove(id);
  return gone;
}

}  // namespace tarnwick::impair
