#include "serve/ServeLoop.h"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

#include "archive/Flusher.h"
#include "net/SocketError.h"
#include "net/SocketPoll.h"
#include "serve/PublishingSink.h"
#include "serve/RequestName.h"
#include "serve/ServedSource.h"
#include "serve/TransferStart.h"
#include "serve/UploadSink.h"
#include "tftp/DeadlineHeap.h"
#include "tftp/EndpointText.h"
#include "tftp/ServerTransfer.h"
#include "tftp/TftpOptions.h"
#include "tftp/TftpPacket.h"
#include "tftp/TransferDriver.h"

namespace tarnwick::serve {

namespace {

using tftp::Clock;
using tftp::OwnedSocket;
using tftp::TimePoint;

constexpr std::chrono::milliseconds kStopCheck{100};
constexpr std::chrono::milliseconds kPublishCheck{2};
constexpr std::size_t kReceiveBuffer = 65536;
constexpr std::size_t kBatch = 8;
// Datagrams read from one socket per turn: a flood on one port waits for
// the next turn instead of holding up every other transfer.
constexpr int kReadsPerTurn = 32;
constexpr char kShuttingDown[] = "The server is shutting down";

using Endpoint = std::pair<AddressBytes, std::uint16_t>;
Endpoint KeyOf(const SocketAddress& a) { return {AddressKey(a), a.port}; }

SocketAddress ListenAddress(const ListenSocket& wanted, std::string& error) {
  SocketAddress address{};
  const bool v6 = wanted.address.find(':') != std::string::npos;
  if (wanted.address == "0.0.0.0" || wanted.address == "::") {
    address.family = v6 ? kFamilyIPv6 : kFamilyIPv4;
    const std::uint16_t port = wanted.port;
    address.port = static_cast<std::uint16_t>((port >> 8) | (port << 8));
    return address;
  }
  try {
    return tftp::ResolveServer(wanted.address, std::to_string(wanted.port), v6 ? kFamilyIPv6 : kFamilyIPv4);
  } catch (const Exception&) {
    error = "--listen " + wanted.address + ": not an address of this host";
    return SocketAddress{};
  }
}

}  // namespace

std::vector<ServeListener> BindListeners(const ListenPlan& plan, std::vector<std::string>& notes,
                                         std::string& error) {
  std::vector<ServeListener> bound;
  std::uint16_t chosenPort = 0;  // the port the system chose for "--port 0", shared by the rest
  for (ListenSocket wanted : plan.sockets) {
    if (wanted.port == 0) wanted.port = chosenPort;
    ServeListener listener;
    if (wanted.inheritedFd >= 0) {
      listener.socket = OwnedSocket(static_cast<SocketHandle>(wanted.inheritedFd));
      std::uint32_t on = 1;
      SocketApi().ioctlsocket(listener.socket.Get(), static_cast<std::int32_t>(kIoctlNonBlocking), &on);
    } else {
      std::string reason;
      const SocketAddress address = ListenAddress(wanted, reason);
      if (reason.empty()) listener.socket = tftp::OpenBoundSocket(address, wanted.ipv6Only, reason);
      if (!reason.empty()) {
        const std::string where = wanted.address + " port " + std::to_string(wanted.port) + ": " + reason;
        if (wanted.required) {
          error = "cannot listen on " + where;
          return {};
        }
        notes.push_back("not listening on " + where);
        continue;
      }
    }
    listener.local = tftp::LocalAddress(listener.socket.Get());
    const auto* port = reinterpret_cast<const std::uint8_t*>(&listener.local.port);
    if (chosenPort == 0) chosenPort = static_cast<std::uint16_t>(port[0] << 8 | port[1]);
    bound.push_back(std::move(listener));
  }
  if (bound.empty() && error.empty()) error = "no socket could be bound";
  return bound;
}

struct ServeLoop::Impl {
  struct Served {
    std::unique_ptr<tftp::ServerTransfer> transfer;
    std::unique_ptr<tftp::FileSource> source;
    std::unique_ptr<tftp::FileSink> sink;
    OwnedSocket socket;  // empty in single-port mode
    std::size_t listener = 0;
    SocketAddress client{};
    std::string name;
    std::string gated;  // the gate's name for an upload it took; empty otherwise
    RequestKind kind = RequestKind::Read;
    TransferMode mode = TransferMode::Octet;
    TimePoint started;
    std::uint64_t generation = 0;
    TimePoint scheduled = TimePoint::max();  // the earliest heap entry of this generation
    std::optional<TimePoint> lingerUntil;    // finished, still answering a repeated last block
    bool used = false;
    // An upload's sink (owned by `sink`); while it is being published the
    // transfer's datagrams (its final ACK) are held, and a failure to
    // publish turns its "done" into a failure.
    PublishingSink* upload = nullptr;
    enum class Publishing { No, Running, Done } publishing = Publishing::No;
    std::vector<tftp::Outbox::Datagram> held;
    std::string publishFailure;
  };

  ServeLoopSettings settings;
  std::vector<ServeListener> listeners;
  RootTree* tree;
  const RootFolder& uploads;
  RecordHandler onRecord;
  Admission admission;
  std::vector<Served> slots;
  std::vector<std::size_t> freeSlots;
  std::map<Endpoint, std::size_t> byClient;
  std::size_t running = 0;
  tftp::DeadlineHeap heap;
  tftp::Outbox out;
  SocketHandle sendingOn = kNoSocket;
  std::string buffer = std::string(kReceiveBuffer, '\0');
  // Every socket the loop reads, kept from turn to turn: a listener's tag
  // is its index, a transfer's listeners.size() + its slot. A transfer's
  // socket joins once its request is settled and leaves when it is freed.
  SocketPollSet pollSet;
  std::vector<std::uint64_t> ready;
  std::vector<bool> watched;  // per slot: its socket is in pollSet
  bool draining = false;
  std::string errorPacket;
  // Publishes finished uploads off the loop. Last: it ends, publishing what
  // it was given, before the slots go.
  archive::Flusher flusher{2};

  Impl(ServeLoopSettings s, std::vector<ServeListener> l, RootTree* t, const RootFolder& u, RecordHandler r)
      : settings(std::move(s)),
        listeners(std::move(l)),
        tree(t),
        uploads(u),
        onRecord(std::move(r)),
        admission(settings.admission) {
    out.SendThrough([this](tftp::Outbox& box) { tftp::SendOutbox(sendingOn, box); }, kBatch);
    for (std::size_t i = 0; i < listeners.size(); ++i) pollSet.Add(listeners[i].socket.Get(), i);
  }

  tftp::Outbox& Via(SocketHandle socket) {
    sendingOn = socket;
    return out;
  }
  void Flush() { tftp::SendOutbox(sendingOn, out); }
  // What one call on a transfer put in the outbox goes out -- unless its
  // upload is being published: then it waits (the final ACK) until the file
  // is in place.
  void SendFor(std::size_t id) {
    Served& s = slots[id];
    if (s.upload && s.upload->PublishAsked() && s.publishing == Served::Publishing::No) {
      s.publishing = Served::Publishing::Running;
      PublishingSink* upload = s.upload;
      flusher.Submit(id, [upload] { return upload->Publish() ? std::string() : std::string("not published"); });
    }
    if (s.publishing != Served::Publishing::Running) return Flush();
    for (std::size_t i = 0; i < out.Count(); ++i) s.held.push_back(out[i]);
    out.Clear();
  }
  SocketHandle SocketOf(const Served& s) const {
    return s.socket.Get() != kNoSocket ? s.socket.Get() : listeners[s.listener].socket.Get();
  }

  void Record(const SocketAddress& client, std::string_view name, RequestKind kind, TransferMode mode,
              const char* result, std::string reason, const tftp::TransferOutcome* outcome, double seconds) {
    if (!onRecord) return;
    TransferRecord r;
    r.unixMs = UnixMsNow();
    r.client = tftp::EndpointText(client);
    r.file = std::string(name);
    r.direction = kind;
    r.mode = mode;
    r.seconds = seconds;
    if (outcome) {
      r.bytes = outcome->bytes;
      r.options = outcome->agreed;
      r.retransmissions = outcome->retransmissions;
    }
    r.result = result;
    r.reason = std::move(reason);
    onRecord(r);
  }

  void SendError(std::size_t listener, const SocketAddress& to, std::uint16_t code) {
    tftp::BuildErrorPacket(Via(listeners[listener].socket.Get()).Add(to), code, ClientText(code));
    Flush();
  }

  void Schedule(std::size_t id, TimePoint when) {
    Served& s = slots[id];
    if (when >= s.scheduled) return;  // an earlier entry is in the heap: checked when it pops
    s.scheduled = when;
    heap.Push(when, id, s.generation);
  }

  void Free(std::size_t id) {
    Served& s = slots[id];
    if (id < watched.size() && watched[id]) {
      pollSet.Remove(s.socket.Get());  // before the socket closes below
      watched[id] = false;
    }
    byClient.erase(KeyOf(s.client));
    const std::uint64_t generation = s.generation + 1;
    s = Served();
    s.generation = generation;
    freeSlots.push_back(id);
  }

  // After anything happened to a transfer: its record once it has ended,
  // its next deadline otherwise.
  void Settle(std::size_t id, TimePoint now) {
    Served& s = slots[id];
    if (s.lingerUntil || s.publishing == Served::Publishing::Running) return;
    tftp::ServerTransfer& t = *s.transfer;
    if (!t.Finished()) return Schedule(id, t.Deadline());
    const tftp::TransferOutcome& o = t.Outcome();
    const bool done = o.state == tftp::TransferState::Succeeded && s.publishFailure.empty();
    const std::string& reason = s.publishFailure.empty() ? o.reason : s.publishFailure;
    s.upload = nullptr;
    s.sink.reset();  // an unfinished upload's temporary file goes with it
    Record(s.client, s.name, s.kind, s.mode, done ? "done" : "failed", done ? std::string() : reason, &o,
           std::chrono::duration<double>(now - s.started).count());
    CloseGated(s.gated, done);
    admission.Finished(s.client);
    --running;
    s.source.reset();
    const std::optional<tftp::Linger> linger = t.Lingering();
    if (!linger || draining || !done) return Free(id);
    s.lingerUntil = linger->until;
    Schedule(id, linger->until);
  }

  void FireTimers(TimePoint now) {
    while (!heap.Empty() && heap.Top().when <= now) {
      const tftp::DeadlineHeap::Entry e = heap.Top();
      heap.Pop();
      Served& s = slots[e.id];
      if (!s.used || s.generation != e.generation || s.scheduled != e.when) continue;  // stale
      s.scheduled = TimePoint::max();
      if (s.lingerUntil) {
        if (*s.lingerUntil <= now)
          Free(e.id);
        else
          Schedule(e.id, *s.lingerUntil);
        continue;
      }
      if (s.transfer->Deadline() <= now) {
        s.transfer->OnTimer(now, Via(SocketOf(s)));
        SendFor(e.id);
      }
      Settle(e.id, now);
    }
  }

  void CloseGated(std::string& gated, bool published) {
    if (gated.empty()) return;
    settings.gate->Closed(gated, published);
    gated.clear();
  }

  // The gate's say on an upload, and the name it is written under.
  Refusal ConsultGate(const SocketAddress& from, ServerRequest& request, std::string& gated) {
    if (!settings.gate || request.kind != RequestKind::Write || request.verdict != RequestVerdict::Serve)
      return {};
    Refusal refusal = settings.gate->Open(from, request.name, gated);
    if (!refusal.Refused()) request.name = gated;
    return refusal;
  }

  // Uploads the flusher has published (or failed to): the held final ACK
  // goes out, or an ERROR in its place, and the transfer ends.
  void OnPublished(TimePoint now) {
    // A slot is never freed while its upload is being published.
    for (const archive::Flusher::Done& d : flusher.Take()) {
      Served& s = slots[d.ticket];
      s.publishing = Served::Publishing::Done;
      tftp::Outbox& box = Via(SocketOf(s));
      if (d.error.empty()) {
        for (const tftp::Outbox::Datagram& held : s.held) box.Add(held.to) = held.Whole();
      } else {
        const Refusal& failure = s.upload->PublishFailure();
        s.publishFailure = failure.Refused() ? failure.reason : "the upload could not be put in place";
        tftp::BuildErrorPacket(box.Add(s.client), failure.code, ClientText(failure.code));
      }
      s.held.clear();
      Flush();
      Settle(d.ticket, now);
    }
  }

  // A request at a listening socket from a client with no transfer here.
  void OnRequest(std::size_t listener, const SocketAddress& from, std::string_view datagram, TimePoint now) {
    const ServerRequest request = ParseServerRequest(datagram);
    if (request.verdict == RequestVerdict::Drop) return;
    if (draining) {
      tftp::BuildErrorPacket(Via(listeners[listener].socket.Get()).Add(from), kErrorNotDefined,
                             kShuttingDown);
      return Flush();
    }
    const Admit verdict = admission.Consider(
        from, static_cast<std::uint64_t>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count()));
    if (verdict != Admit::Start) {
      const AdmitAnswer answer = AnswerFor(verdict);
      if (!answer.answer) return;
      SendError(listener, from, answer.refusal.code);
      return Record(from, request.name, request.kind, request.mode, "refused", answer.refusal.reason, nullptr,
                    0.0);
    }
    TransferStart start;
    std::string gated;
    ServerRequest asked = request;  // the gate renames a taken upload; the log keeps the client's name
    const Refusal gateRefusal = ConsultGate(from, asked, gated);
    if (gateRefusal.Refused())
      start.refusal = gateRefusal;
    else if (request.verdict == RequestVerdict::Serve)
      start = StartTransfer(asked, tree, uploads, settings.upload, settings.caps);
    else
      start.refusal = request.refusal;
    if (start.refusal.Refused()) {
      CloseGated(gated, false);
      admission.Finished(from);
      SendError(listener, from, start.refusal.code);
      return Record(from, request.name, request.kind, request.mode, "refused", start.refusal.reason, nullptr,
                    0.0);
    }
    OwnedSocket socket;
    if (!settings.singlePort) {
      SocketAddress local = listeners[listener].local;
      local.port = 0;
      std::string reason;
      socket = tftp::OpenBoundSocket(local, false, reason);
      if (!reason.empty()) {
        start.upload.reset();
        CloseGated(gated, false);
        admission.Finished(from);
        SendError(listener, from, kErrorNotDefined);
        return Record(from, request.name, request.kind, request.mode, "failed", reason, nullptr, 0.0);
      }
    }
    std::size_t id;
    if (freeSlots.empty()) {
      id = slots.size();
      slots.emplace_back();
    } else {
      id = freeSlots.back();
      freeSlots.pop_back();
    }
    Served& s = slots[id];
    s.used = true;
    s.socket = std::move(socket);
    s.listener = listener;
    s.client = from;
    s.name = request.name;
    s.gated = std::move(gated);
    s.kind = request.kind;
    s.mode = request.mode;
    s.started = now;
    tftp::ServerSetup setup;
    setup.agreed = start.answer.agreed;
    setup.oack = std::move(start.answer.oack);
    setup.wait = settings.wait;
    setup.maxWait = settings.maxWait;
    setup.retries = settings.retries;
    if (request.kind == RequestKind::Read) {
      s.source = MakeServedSource(std::move(start.source), request.mode);
      s.transfer = std::make_unique<tftp::ServerTransfer>(from, std::move(setup), s.source.get());
    } else {
      // Netascii line ends become the local system's own.
      const std::string lineEnd = NativeNameRules() ? "\r\n" : "\n";
      auto upload = std::make_unique<PublishingSink>(
          std::make_unique<UploadSink>(std::move(start.upload), request.mode, lineEnd),
          start.answer.agreed.transferSize);
      s.upload = upload.get();
      s.sink = std::move(upload);
      s.transfer = std::make_unique<tftp::ServerTransfer>(from, std::move(setup), s.sink.get());
    }
    byClient[KeyOf(from)] = id;
    ++running;
    s.transfer->Start(now, Via(SocketOf(s)));
    SendFor(id);
    Settle(id, now);
  }

  void OnListenerDatagram(std::size_t listener, const SocketAddress& from, std::string_view datagram,
                          TimePoint now) {
    const auto known = byClient.find(KeyOf(from));
    const bool request = datagram.size() >= 2 && (tftp::ReadOpcode(datagram) == tftp::kRrq ||
                                                  tftp::ReadOpcode(datagram) == tftp::kWrq);
    if (known == byClient.end()) {
      // Without a transfer, only requests are answered here.
      if (request) {
        OnRequest(listener, from, datagram, now);
        Watch(from, now);
      }
      return;
    }
    const std::size_t id = known->second;
    Served& s = slots[id];
    if (request) {
      // The same client port asking again while its transfer runs: a
      // duplicate (a WRQ retry among them), never a second transfer.
      s.transfer->OnRepeatedRequest(now, Via(SocketOf(s)));
    } else if (settings.singlePort) {
      s.transfer->OnDatagram(from, datagram, now, Via(SocketOf(s)));
    } else {
      return;  // its transfer has a port of its own
    }
    SendFor(id);
    Settle(id, now);
  }

  // A transfer the request from `from` started (and did not end at once)
  // with a socket of its own: its socket joins the poll set.
  void Watch(const SocketAddress& from, TimePoint now) {
    const auto started = byClient.find(KeyOf(from));
    if (started == byClient.end()) return;
    const std::size_t id = started->second;
    Served& s = slots[id];
    if (s.socket.Get() == kNoSocket) return;
    if (watched.size() < slots.size()) watched.resize(slots.size(), false);
    if (watched[id]) return;
    if (pollSet.Add(s.socket.Get(), listeners.size() + id)) {
      watched[id] = true;
      return;
    }
    // Never read, it could only time out: it ends now, with the reason.
    const std::string reason = tftp::SocketFailure("cannot wait on the transfer's socket", SocketLastError());
    if (!s.lingerUntil) {
      s.transfer->Abandon(reason, Via(s.socket.Get()));
      Flush();
      Settle(id, now);
    }
    if (slots[id].used) Free(id);
  }

  // Reads what waits on one socket, at most kReadsPerTurn datagrams.
  template <typename Handler>
  void ReadSocket(SocketHandle socket, Handler&& handle) {
    SocketFunctionTable& api = SocketApi();
    for (int i = 0; i < kReadsPerTurn; ++i) {
      SocketAddress from{};
      int fromLength = sizeof from;
      const int n =
          api.recvfrom(socket, buffer.data(), static_cast<int>(buffer.size()), 0, &from, &fromLength);
      if (n < 0) {
        const int code = SocketLastError();
        if (code == kErrorConnectionReset || code == 10040) continue;
        return;
      }
      if (!handle(from, std::string_view(buffer.data(), static_cast<std::size_t>(n)))) return;
    }
  }

  void OnTransferReadable(std::size_t id) {
    const std::uint64_t generation = slots[id].generation;
    ReadSocket(slots[id].socket.Get(), [&](const SocketAddress& from, std::string_view datagram) {
      Served& s = slots[id];
      const TimePoint now = Clock::now();
      s.transfer->OnDatagram(from, datagram, now, Via(s.socket.Get()));
      SendFor(id);
      Settle(id, now);
      return slots[id].used && slots[id].generation == generation;
    });
  }

  void AbandonAll(TimePoint now) {
    // Uploads being published are let finish: their files are complete.
    while (flusher.Pending() > 0) flusher.WaitForOne();
    OnPublished(now);
    for (std::size_t id = 0; id < slots.size(); ++id) {
      Served& s = slots[id];
      if (!s.used) continue;
      if (!s.lingerUntil) {
        s.transfer->Abandon(kShuttingDown, Via(SocketOf(s)));
        SendFor(id);
        Settle(id, now);
      }
      if (slots[id].used) Free(id);
    }
  }

  TimePoint NextWake(TimePoint now) const {
    TimePoint wake = now + kStopCheck;
    if (!heap.Empty()) wake = std::min(wake, heap.Top().when);
    return wake;
  }

  void Run(const std::function<bool()>& stopRequested) {
    TimePoint drainUntil = TimePoint::max();
    for (;;) {
      TimePoint now = Clock::now();
      if (!draining && stopRequested && stopRequested()) {
        draining = true;
        drainUntil = now + settings.drain;
      }
      if (draining && (running == 0 || now >= drainUntil)) return AbandonAll(now);
      OnPublished(now);
      FireTimers(now);
      // While an upload is being published, its answer is looked for often.
      const std::chrono::milliseconds longest = flusher.Idle() ? kStopCheck : kPublishCheck;
      const auto wait = std::clamp<std::int64_t>(
          std::chrono::ceil<std::chrono::milliseconds>(NextWake(now) - now).count(), 0, longest.count());
      if (pollSet.Wait(static_cast<int>(wait), ready) <= 0) continue;
      for (const std::uint64_t tag : ready) {
        if (tag < listeners.size()) {
          const auto listener = static_cast<std::size_t>(tag);
          ReadSocket(listeners[listener].socket.Get(),
                     [&](const SocketAddress& from, std::string_view datagram) {
                       OnListenerDatagram(listener, from, datagram, Clock::now());
                       return true;
                     });
        } else {
          // A slot freed (and perhaps taken again) since the wait reads an
          // empty socket at worst.
          const auto id = static_cast<std::size_t>(tag - listeners.size());
          if (id < slots.size() && slots[id].used && slots[id].socket.Get() != kNoSocket) OnTransferReadable(id);
        }
      }
    }
  }
};

ServeLoop::ServeLoop(ServeLoopSettings settings, std::vector<ServeListener> listeners, RootTree* tree,
                     const RootFolder& uploads, RecordHandler onRecord)
    : impl_(std::make_unique<Impl>(std::move(settings), std::move(listeners), tree, uploads,
                                   std::move(onRecord))) {}
ServeLoop::~ServeLoop() = default;

void ServeLoop::Run(const std::function<bool()>& stopRequested) { impl_->Run(stopRequested); }
std::size_t ServeLoop::Running() const { return impl_->running; }

}  // namespace tarnwick::serve
