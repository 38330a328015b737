// Name resolution off the driver thread. A system lookup blocks for as long
// as the name servers take (seconds per dead name); on the one thread that
// drives every transfer that would freeze them all. Lookups run on a few
// worker threads instead, their answers are collected by the driver when it
// looks, and a lookup that never returns only holds its own worker.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/SocketAddress.h"

namespace tarnwick::fleet {

// host, port -> address, or nullopt with the reason in error. Called on a
// worker thread.
using LookupFunction = std::function<std::optional<SocketAddress>(
    const std::string& host, const std::string& port, std::string& error)>;

// The socket layer's resolver (IPv4 first).
LookupFunction SystemLookup();

// The address of an IPv4 or IPv6 literal ("[::1]" too) without asking
// anyone; nullopt for a name.
std::optional<SocketAddress> LiteralAddress(const std::string& host, const std::string& port);

class Resolver {
 public:
  // At most maxThreads lookups at once; threads start as lookups wait.
  Resolver(LookupFunction lookup, std::size_t maxThreads);
  // Never waits for a lookup still running: its thread finishes on its
  // own and its answer is dropped.
  ~Resolver();
  Resolver(const Resolver&) = delete;
  Resolver& operator=(const Resolver&) = delete;

  void Ask(std::size_t ticket, const std::string& host, const std::string& port);

  struct Answer {
    std::size_t ticket = 0;
    std::optional<SocketAddress> address;
    std::string error;
  };
  // The answers that arrived since the last call.
  std::vector<Answer> Take();
  // Blocks until an answer is there or the time is up.
  void Wait(std::chrono::milliseconds limit);

  // Public for its workers only.
  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  std::size_t maxThreads_;
};

}  // namespace tarnwick::fleet
