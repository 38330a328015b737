// The relay's command line. Impairment options apply to both directions;
// prefixed with c2s- (client to server) or s2c- (server to client) they
// apply to one:
//   tarnwick-impair --server 127.0.0.1:6969 [--listen 127.0.0.1:0] [--seed N]
//     [--[c2s-|s2c-]loss P] [--[c2s-|s2c-]dup P] [--[c2s-|s2c-]reorder P]
//     [--[c2s-|s2c-]delay MS] [--[c2s-|s2c-]jitter MS]
//     [--[c2s-|s2c-]reorder-depth N] [--[c2s-|s2c-]hold-max MS]
//     [--queue-cap N] [--max-sockets N] [--idle-ms MS]
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Endpoint.h"
#include "Impairment.h"

namespace tarnwick::impair {

struct RelayOptions {
  Endpoint listen;
  Endpoint server;
  std::uint64_t seed = 1;
  DirectionSettings toServer;        // c2s
  DirectionSettings toClient;        // s2c
  std::size_t queueCapacity = 4096;  // per direction
  std::size_t maxSockets = 1024;
  std::uint64_t idleMs = 60000;
};

// Empty on success, otherwise what is wrong (for stderr, exit status 2).
std::string ParseRelayOptions(const std::vector<std::string>& args, RelayOptions& out);
extern const char kRelayUsage[];

// Per-direction seeds derived from the one given, so each direction has its
// own stream and a busy direction does not shift the other's decisions.
std::uint64_t DirectionSeed(std::uint64_t seed, bool toServer);

}  // namespace tarnwick::impair
