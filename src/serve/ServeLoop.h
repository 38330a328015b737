// The server's event loop: one thread, any number of transfers. Listening
// sockets take requests (checked by Admission, parsed, settled by
// TransferStart); each transfer answers from a socket of its own on an
// ephemeral port, or with --single-port from the listening socket itself,
// told apart by the client's address and port. Deadlines wait in a heap;
// every socket is read a bounded number of datagrams per turn, so a flood
// on one port (requests, an ACK storm, forged datagrams) cannot hold up
// the others. Each finished transfer becomes one TransferRecord.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serve/Admission.h"
#include "serve/ListenPlan.h"
#include "serve/RootTree.h"
#include "serve/ServerRequest.h"
#include "serve/TransferLog.h"
#include "serve/UploadGate.h"
#include "serve/UploadTarget.h"
#include "tftp/DatagramSocket.h"

namespace tarnwick::serve {

struct ServeListener {
  tftp::OwnedSocket socket;
  SocketAddress local{};  // where it is bound (port included)
};

// Binds the plan's sockets (or takes the inherited ones). Fails with error
// when a required one cannot be bound or none is left; a socket that is
// not required and fails adds a note.
std::vector<ServeListener> BindListeners(const ListenPlan& plan, std::vector<std::string>& notes,
                                         std::string& error);

struct ServeLoopSettings {
  bool singlePort = false;
  UploadPolicy upload;
  ServerCaps caps;
  AdmissionLimits admission;
  std::chrono::milliseconds wait{1000};  // the first wait, before a round trip is measured
  std::chrono::milliseconds maxWait{8000};
  int retries = 5;
  // After a stop: how long running transfers may take to finish.
  std::chrono::milliseconds drain{10000};
  // When set, every WRQ goes through it (serve --archive) and lands in the
  // upload folder under the name it gives; must outlive the loop.
  UploadGate* gate = nullptr;
};

class ServeLoop {
 public:
  using RecordHandler = std::function<void(const TransferRecord&)>;
  // tree: where reads are served from (null: nothing is); uploads: where
  // uploads land. Both must outlive the loop.
  ServeLoop(ServeLoopSettings settings, std::vector<ServeListener> listeners, RootTree* tree,
            const RootFolder& uploads, RecordHandler onRecord);
  ~ServeLoop();
  ServeLoop(const ServeLoop&) = delete;
  ServeLoop& operator=(const ServeLoop&) = delete;

  // Serves until stopRequested() (asked at least every 100 ms) says so;
  // then new requests are refused and running transfers get the drain time
  // to finish before they are abandoned. Returns once none is left.
  void Run(const std::function<bool()>& stopRequested);
  std::size_t Running() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarnwick::serve
