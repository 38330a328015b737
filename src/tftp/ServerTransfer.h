// The answering side of one transfer, as a state machine like
// ClientTransfer: the server's opening moves for a request it has accepted
// (RRQ: the OACK and a wait for ACK 0, or DATA 1 at once; WRQ: the OACK or
// ACK 0, then the client's DATA), then the same data-phase roles a client
// runs (windows, 16-bit block numbers wrapping past 65535, the RFC 6298
// timer, ERROR 5 to strangers). No socket, no file name: the caller has
// settled the file and the options before it is built.
//
// No reflection amplification: until the client has moved the transfer on
// once, the server sends its opening datagram (the OACK, DATA 1 or ACK 0)
// at most twice, whether a time-out or a re-sent request asks for the
// repeat; a forged request thus costs the forged address two datagrams.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "tftp/ClientTransfer.h"

namespace tarnwick::tftp {

struct ServerSetup {
  AgreedOptions agreed;  // what the transfer runs with
  std::string oack;      // sent first when not empty
  // The first wait (until a round trip is measured), its cap, and the
  // time-outs in a row after which the client is given up.
  std::chrono::milliseconds wait{1000};
  std::chrono::milliseconds maxWait{8000};
  int retries = 5;
};

class ServerTransfer {
 public:
  // A read request: source's bytes go to client. The engine does not own it.
  ServerTransfer(const SocketAddress& client, ServerSetup setup, FileSource* source);
  // A write request: the client's bytes go to sink; its FlushToDisk is the
  // moment the upload is published, before the final ACK.
  ServerTransfer(const SocketAddress& client, ServerSetup setup, FileSink* sink);
  ~ServerTransfer();
  ServerTransfer(const ServerTransfer&) = delete;
  ServerTransfer& operator=(const ServerTransfer&) = delete;

  // Puts the opening datagram into out and arms the first deadline.
  void Start(TimePoint now, Outbox& out);
  void OnDatagram(const SocketAddress& from, std::string_view datagram, TimePoint now, Outbox& out);
  // The client sent its request again (our opening was lost, or it is
  // impatient): the opening goes again within the amplification bound.
  void OnRepeatedRequest(TimePoint now, Outbox& out);
  void OnTimer(TimePoint now, Outbox& out);
  void Abandon(std::string_view reason, Outbox& out);

  TimePoint Deadline() const;
  bool Finished() const;
  // A finished upload still answers a repeat of its last block (see Linger).
  std::optional<Linger> Lingering() const;
  const TransferOutcome& Outcome() const;
  const SocketAddress& Client() const;
  bool IsRead() const;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace tarnwick::tftp
