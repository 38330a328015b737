// Runs ClientTransfer state machines over the socket layer's UDP sockets,
// any number of them on one thread: one socket per transfer, one poll over
// all of them (poll on POSIX, WSAPoll on Windows), deadlines in a heap, no
// thread per transfer. Used by `tarnwick-cli get/put` (one transfer) and by
// `tarnwick-cli backup` (many).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "net/SocketAddress.h"
#include "tftp/ClientTransfer.h"

namespace tarnwick::tftp {

class TransferDriver {
 public:
  using TransferId = std::size_t;
  // Called once when a transfer has finished (succeeded or failed), from
  // inside Run, before its socket is closed; it may Add new transfers.
  using FinishedHandler = std::function<void(TransferId, const ClientTransfer&)>;

  TransferDriver();
  ~TransferDriver();  // abandons whatever still runs and closes every socket
  TransferDriver(const TransferDriver&) = delete;
  TransferDriver& operator=(const TransferDriver&) = delete;

  // Opens a UDP socket of the server address's family and starts the
  // transfer (its request goes out on the next Run step). The driver does
  // not own the transfer; it must outlive its run. A socket that cannot be
  // opened fails the transfer at once (reason names the socket error).
  TransferId Add(ClientTransfer& transfer);

  void OnFinished(FinishedHandler handler);

  // Runs until no transfer is left, or until stopRequested() returns true
  // (checked at least every 100 ms), when every running transfer is
  // abandoned with the given reason. Returns false when stopped early.
  bool Run(const std::function<bool()>& stopRequested = {},
           const std::string& stopReason = "interrupted");

  std::size_t Running() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Resolves host (name, IPv4 or IPv6 literal, "[::1]" too) and port through
// the socket layer. family: 0 = either (IPv4 first), kFamilyIPv4 or
// kFamilyIPv6. Raises ESocketError when the name does not resolve.
SocketAddress ResolveServer(const std::string& host, const std::string& port, std::uint16_t family = 0);

// "192.0.2.1:69" / "[2001:db8::1]:69", for messages.
std::string EndpointText(const SocketAddress& address);

}  // namespace tarnwick::tftp
