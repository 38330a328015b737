// The driver's loop: start what was added, fire due timers, one poll over
// every running transfer's socket, drain each readable socket, send what the
// state machines put in the Outbox, report and close finished transfers.
// The hot path calls the socket table directly (sendto/recvfrom on a
// non-blocking handle): no status events, no strings built per datagram.
#include "tftp/TransferDriver.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "net/SocketError.h"
#include "net/SocketPoll.h"
#include "net/UdpBlockSocket.h"
#include "tftp/DatagramSocket.h"
#include "tftp/LingerProcess.h"

namespace tarnwick::tftp {

namespace {

constexpr std::chrono::milliseconds kStopCheck{100};
// Room for the largest UDP payload, so no datagram is ever cut.
constexpr std::size_t kReceiveBuffer = 65536;
// Datagrams built before they are sent: a window of any size and block size
// goes out through this many buffers.
constexpr std::size_t kBatch = 8;
constexpr std::size_t kMaxLingering = kMaxHandedOff;
// Socket option numbers as the socket layer takes them (Windows values).
constexpr int kSocketLevel = 0xFFFF;
constexpr int kReceiveTimeout = 0x1006;  // milliseconds

}  // namespace

struct TransferDriver::Impl {
  struct Slot {
    ClientTransfer* transfer = nullptr;
    OwnedSocket socket;
    bool started = false;
    // A lone transfer waits in one timed receive on a blocking socket
    // instead of poll + receive; everything else needs it non-blocking.
    bool blocking = false;
    int receiveTimeoutMs = -1;  // as last set on the socket
  };
  // A finished get's socket kept open to answer a repeat of its last block;
  // the transfer object itself is no longer looked at.
  struct Lingering {
    Linger linger;
    OwnedSocket socket;
  };
  std::vector<Slot> slots;
  std::vector<TransferId> live;  // slots not yet finished, in order of addition
  std::vector<Lingering> lingering;
  std::vector<PollEntry> poll;
  FinishedHandler onFinished;
  bool handOff = false;
  bool handOffFailed = false;  // lingers are cut short instead
  Outbox out;
  SocketHandle sendingOn = kNoSocket;  // where `out` sends to
  std::uint64_t datagramsSent = 0;
  std::string buffer = std::string(kReceiveBuffer, '\0');

  Impl() {
    out.SendThrough([this](Outbox& box) { SendAll(box); }, kBatch);
  }

  // The Outbox, sending through the slot's socket.
  Outbox& For(SocketHandle socket) {
    sendingOn = socket;
    return out;
  }

  void SendAll(Outbox& box) { datagramsSent += SendOutbox(sendingOn, box); }

  // Datagrams queued on the slot's socket, each to the machine, until one
  // of them is answered: in lock step the peer then waits for us, so a
  // further read would only meet an empty queue (one system call per block
  // saved). Anything still queued makes the next poll return at once.
  void Drain(Slot& slot) {
    SocketFunctionTable& api = SocketApi();
    for (;;) {
      SocketAddress from{};
      int fromLength = sizeof from;
      const int n = api.recvfrom(slot.socket.Get(), buffer.data(), static_cast<int>(buffer.size()), 0, &from,
                                 &fromLength);
      if (n < 0) {
        const int code = SocketLastError();
        // A port-unreachable report from an earlier send (Windows), or a cut
        // datagram: neither ends the queue.
        if (code == kErrorConnectionReset || code == 10040) continue;
        return;
      }
      const std::uint64_t before = datagramsSent + out.Count();
      slot.transfer->OnDatagram(from, std::string_view(buffer.data(), static_cast<std::size_t>(n)),
                                Clock::now(), For(slot.socket.Get()));
      const bool answered = datagramsSent + out.Count() != before;
      SendAll(out);
      if (answered || slot.transfer->Finished()) return;
    }
  }

  void DrainLingering(Lingering& l) {
    SocketFunctionTable& api = SocketApi();
    for (;;) {
      SocketAddress from{};
      int fromLength = sizeof from;
      const int n =
          api.recvfrom(l.socket.Get(), buffer.data(), static_cast<int>(buffer.size()), 0, &from, &fromLength);
      if (n < 0) {
        const int code = SocketLastError();
        if (code == kErrorConnectionReset || code == 10040) continue;
        return;
      }
      l.linger.Answer(from, std::string_view(buffer.data(), static_cast<std::size_t>(n)),
                      For(l.socket.Get()));
      SendAll(out);
    }
  }

  void SetBlocking(Slot& slot, bool blocking) {
    if (slot.blocking == blocking || slot.socket.Get() == kNoSocket) return;
    std::uint32_t nonBlocking = blocking ? 0 : 1;
    if (SocketApi().ioctlsocket(slot.socket.Get(), static_cast<std::int32_t>(kIoctlNonBlocking),
                                &nonBlocking) == 0)
      slot.blocking = blocking;
  }

  // The one running transfer, with nothing lingering: its datagrams are
  // received and answered here, one timed receive each, until its deadline,
  // its end or the next stop check. False when the socket could not be put
  // in that mode (the caller polls instead).
  bool RunAlone(Slot& slot, TimePoint now, TimePoint stopCheck) {
    SetBlocking(slot, true);
    if (!slot.blocking) return false;
    SocketFunctionTable& api = SocketApi();
    ClientTransfer& transfer = *slot.transfer;
    const SocketHandle socket = slot.socket.Get();
    while (!transfer.Finished()) {
      const TimePoint until = std::min(transfer.Deadline(), stopCheck);
      if (until <= now) return true;
      // Whole milliseconds, rounded up, so the wait never ends early; 0
      // would mean no limit at all.
      const int waitMs = static_cast<int>(std::clamp<std::int64_t>(
          std::chrono::ceil<std::chrono::milliseconds>(until - now).count(), 1, 60000));
      if (waitMs != slot.receiveTimeoutMs) {
        const std::uint32_t value = static_cast<std::uint32_t>(waitMs);
        if (api.setsockopt(socket, kSocketLevel, kReceiveTimeout, reinterpret_cast<const char*>(&value),
                           sizeof value) != 0)
          return false;
        slot.receiveTimeoutMs = waitMs;
      }
      SocketAddress from{};
      int fromLength = sizeof from;
      const int n =
          api.recvfrom(socket, buffer.data(), static_cast<int>(buffer.size()), 0, &from, &fromLength);
      now = Clock::now();
      if (n < 0) continue;  // timed out, or a report of an earlier send: look again
      transfer.OnDatagram(from, std::string_view(buffer.data(), static_cast<std::size_t>(n)), now,
                          For(socket));
      SendAll(out);
    }
    return true;
  }

  // Reports finished transfers (the handler may add new ones) at once, and
  // closes their sockets, or keeps a finished get's open for its linger.
  void Reap() {
    for (std::size_t i = 0; i < live.size();) {
      const TransferId id = live[i];
      if (!slots[id].transfer->Finished()) {
        ++i;
        continue;
      }
      live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
      const std::optional<Linger> linger = slots[id].transfer->Lingering();
      SetBlocking(slots[id], false);  // a lingering socket is drained until empty
      OwnedSocket socket = std::move(slots[id].socket);
      if (onFinished) onFinished(id, *slots[id].transfer);  // may grow `slots`
      if (linger && socket.Get() != kNoSocket) {
        // A bounded number: a fleet finishing fast must not run out of
        // descriptors for the sake of a courtesy; the oldest goes first.
        if (lingering.size() >= kMaxLingering) lingering.erase(lingering.begin());
        lingering.push_back(Lingering{*linger, std::move(socket)});
      }
    }
  }

  // Nothing runs any more: the lingers leave the caller's way (see
  // HandOffLingers).
  void HandOff(TimePoint now) {
    if (!handOff || !live.empty() || lingering.empty()) return;
    if (!handOffFailed) {
      std::vector<LingerHandOff> all;
      for (const Lingering& l : lingering) all.push_back(LingerHandOff{l.linger, l.socket.Get()});
      if (LingerInBackground(all)) return lingering.clear();
      handOffFailed = true;
    }
    for (Lingering& l : lingering) l.linger.until = std::min(l.linger.until, l.linger.shortUntil);
    EndLingering(now);
  }

  void EndLingering(TimePoint now) {
    lingering.erase(std::remove_if(lingering.begin(), lingering.end(),
                                   [now](const Lingering& l) { return l.linger.until <= now; }),
                    lingering.end());
  }

  void AbandonAll(const std::string& reason) {
    for (TransferId id : live) {
      Slot& slot = slots[id];
      slot.transfer->Abandon(reason, For(slot.socket.Get()));
      SendAll(out);
    }
    Reap();
    lingering.clear();
  }
};

TransferDriver::TransferDriver() : impl_(std::make_unique<Impl>()) {}

TransferDriver::~TransferDriver() {
  impl_->onFinished = nullptr;
  impl_->AbandonAll("the transfer was stopped");
}

TransferDriver::TransferId TransferDriver::Add(ClientTransfer& transfer) {
  Impl& d = *impl_;
  const TransferId id = d.slots.size();
  d.slots.emplace_back();
  Impl::Slot& slot = d.slots.back();
  slot.transfer = &transfer;
  std::string reason;
  slot.socket = OpenSocket(transfer.Server().family, reason);
  if (!reason.empty()) {
    transfer.Abandon(reason, d.For(kNoSocket));
    d.out.Clear();
    slot.started = true;
  }
  d.live.push_back(id);
  return id;
}

void TransferDriver::OnFinished(FinishedHandler handler) { impl_->onFinished = std::move(handler); }

void TransferDriver::HandOffLingers() { impl_->handOff = true; }

std::size_t TransferDriver::Running() const { return impl_->live.size(); }

bool TransferDriver::Run(const std::function<bool()>& stopRequested, const std::string& stopReason) {
  Impl& d = *impl_;
  TimePoint nextStopCheck = Clock::now();
  for (;;) {
    TimePoint now = Clock::now();
    if (stopRequested && now >= nextStopCheck) {
      nextStopCheck = now + kStopCheck;
      if (stopRequested()) {
        // Only lingering sockets left: every transfer has its result.
        const bool cutShort = !d.live.empty();
        d.AbandonAll(stopReason);
        return !cutShort;
      }
    }
    TimePoint earliest = TimePoint::max();
    for (TransferId id : d.live) {
      Impl::Slot& slot = d.slots[id];
      if (!slot.started) {
        slot.started = true;
        slot.transfer->Start(now, d.For(slot.socket.Get()));
        d.SendAll(d.out);
      }
      if (!slot.transfer->Finished() && slot.transfer->Deadline() <= now) {
        slot.transfer->OnTimer(now, d.For(slot.socket.Get()));
        d.SendAll(d.out);
      }
      earliest = std::min(earliest, slot.transfer->Deadline());
    }
    d.Reap();
    d.EndLingering(now);
    d.HandOff(now);
    for (const Impl::Lingering& l : d.lingering) earliest = std::min(earliest, l.linger.until);
    if (d.live.empty() && d.lingering.empty()) return true;

    auto wait = earliest == TimePoint::max() ? std::chrono::milliseconds(kStopCheck)
                                             : std::chrono::ceil<std::chrono::milliseconds>(earliest - now);
    if (stopRequested) wait = std::min(wait, std::chrono::milliseconds(kStopCheck));
    // The handler may have added transfers: they start without waiting.
    for (TransferId id : d.live)
      if (!d.slots[id].started) wait = std::chrono::milliseconds(0);
    wait = std::clamp(wait, std::chrono::milliseconds(0), std::chrono::milliseconds(60000));

    if (d.live.size() == 1 && d.lingering.empty() && d.slots[d.live[0]].started) {
      const TimePoint stopCheck = stopRequested ? nextStopCheck : now + std::chrono::milliseconds(60000);
      if (d.RunAlone(d.slots[d.live[0]], now, stopCheck)) {
        d.Reap();
        continue;
      }
    }
    for (TransferId id : d.live) d.SetBlocking(d.slots[id], false);
    const std::size_t running = d.live.size();
    d.poll.resize(running + d.lingering.size());
    for (std::size_t i = 0; i < running; ++i) d.poll[i] = PollEntry{d.slots[d.live[i]].socket.Get(), false};
    for (std::size_t i = 0; i < d.lingering.size(); ++i)
      d.poll[running + i] = PollEntry{d.lingering[i].socket.Get(), false};
    const int ready = PollReadable(d.poll.data(), d.poll.size(), static_cast<int>(wait.count()));
    if (ready < 0) {
      // Not a signal (those count as an empty wait): waiting again would
      // fail again at once, so the run ends with the system's reason.
      d.AbandonAll(SocketFailure("waiting for the network failed", SocketLastError()));
      return true;
    }
    if (ready == 0) continue;
    for (std::size_t i = 0; i < running; ++i) {
      if (!d.poll[i].ready) continue;
      Impl::Slot& slot = d.slots[d.live[i]];
      if (!slot.transfer->Finished()) d.Drain(slot);
    }
    for (std::size_t i = 0; i < d.lingering.size(); ++i)
      if (d.poll[running + i].ready) d.DrainLingering(d.lingering[i]);
    d.Reap();
  }
}

SocketAddress ResolveServer(const std::string& host, const std::string& port, std::uint16_t family) {
  std::string name = host;
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  TUDPBlockSocket resolver;
  if (family == kFamilyIPv4) resolver.SetAddressFamily(FamilyIPv4);
  if (family == kFamilyIPv6) resolver.SetAddressFamily(FamilyIPv6);
  SocketAddress address;
  resolver.FillAddress(address, name, port);
  if (address.family == kFamilyUnspecified || (family != 0 && address.family != family)) {
    constexpr int kHostNotFound = 11001;
    throw ESocketError("cannot resolve " + host + ":" + port, kHostNotFound, GetErrorDesc(kHostNotFound));
  }
  return address;
}

}  // namespace tarnwick::tftp
