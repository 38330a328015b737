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
#include "tftp/EndpointText.h"  // callers quote the server in their messages

namespace tarnwick::tftp {

class TransferDriver {
 public:
  using TransferId = std::size_t;
  // Called once, as soon as a transfer has finished (succeeded or failed),
  // from inside Run; it may Add new transfers. The driver does not look at
  // the transfer after the handler returns: a finished get's socket may
  // stay open for its linger (ClientTransfer::Lingering), answered from
  // the driver's own copy of what it owes the server.
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

  // From now on Run does not wait for lingering sockets once no transfer is
  // left: they go to a process of their own that answers repeats until each
  // linger's end (POSIX), or each is cut to a few measured round trips
  // (where that cannot be done). For callers that exit or move on after the
  // run; a lingering socket still outlives the transfer while others run.
  void HandOffLingers();

  // Runs until no transfer is left and no socket lingers, or until
  // stopRequested() returns true (checked at least every 100 ms), when every
  // running transfer is abandoned with the given reason. Returns false when
  // the stop cut a running transfer short (not when only lingering sockets
  // were left). A failed wait on the sockets (not a signal) ends every
  // running transfer with the system's reason.
  bool Run(const std::function<bool()>& stopRequested = {}, const std::string& stopReason = "interrupted");

  // Transfers not yet finished; lingering sockets do not count.
  std::size_t Running() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Resolves host (name, IPv4 or IPv6 literal, "[::1]" too) and port through
// the socket layer. family: 0 = either (IPv4 first), kFamilyIPv4 or
// kFamilyIPv6. Raises ESocketError when the name does not resolve.
SocketAddress ResolveServer(const std::string& host, const std::string& port, std::uint16_t family = 0);

}  // namespace tarnwick::tftp
