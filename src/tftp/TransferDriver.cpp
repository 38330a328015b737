// The driver's loop: start what was added, fire due timers, one poll over
// every running transfer's socket, drain each readable socket, send what the
// state machines put in the Outbox, report and close finished transfers.
// The hot path calls the socket table directly (sendto/recvfrom on a
// non-blocking handle): no status events, no strings built per datagram.
#include "tftp/TransferDriver.h"

#include <algorithm>
#include <vector>

#include "net/SocketError.h"
#include "net/SocketPoll.h"
#include "net/UdpBlockSocket.h"

namespace tarnwick::tftp {

namespace {

constexpr int kDatagram = 2;
constexpr int kUdp = 17;
constexpr std::chrono::milliseconds kStopCheck{100};
// Room for the largest UDP payload, so no datagram is ever cut.
constexpr std::size_t kReceiveBuffer = 65536;

// Owns one system socket.
class OwnedSocket {
 public:
  OwnedSocket() = default;
  explicit OwnedSocket(SocketHandle handle) : handle_(handle) {}
  OwnedSocket(OwnedSocket&& other) noexcept : handle_(other.Release()) {}
  OwnedSocket& operator=(OwnedSocket&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~OwnedSocket() { Reset(kNoSocket); }
  SocketHandle Get() const { return handle_; }
  SocketHandle Release() {
    const SocketHandle h = handle_;
    handle_ = kNoSocket;
    return h;
  }
  void Reset(SocketHandle handle) {
    if (handle_ != kNoSocket) SocketApi().closesocket(handle_);
    handle_ = handle;
  }

 private:
  SocketHandle handle_ = kNoSocket;
};

std::string SocketFailure(const char* what, int code) {
  return std::string(what) + ": " + GetErrorDesc(code) + " (" + std::to_string(code) + ")";
}

// A UDP socket of the family, non-blocking, bound to any address and port
// (so that waiting on it is valid before the first send). Empty reason on
// success.
OwnedSocket OpenSocket(std::uint16_t family, std::string& reason) {
  SocketFunctionTable& api = SocketApi();
  OwnedSocket socket(api.socket(family, kDatagram, kUdp));
  if (socket.Get() == kNoSocket) {
    reason = SocketFailure("cannot open a UDP socket", SocketLastError());
    return socket;
  }
  std::uint32_t on = 1;
  if (api.ioctlsocket(socket.Get(), static_cast<std::int32_t>(kIoctlNonBlocking), &on) != 0) {
    reason = SocketFailure("cannot make the UDP socket non-blocking", SocketLastError());
    return OwnedSocket();
  }
  SocketAddress any{};
  any.family = family;
  if (api.bind(socket.Get(), &any, SocketAddressLength(any)) != 0) {
    reason = SocketFailure("cannot bind the UDP socket", SocketLastError());
    return OwnedSocket();
  }
  return socket;
}

}  // namespace

struct TransferDriver::Impl {
  struct Slot {
    ClientTransfer* transfer = nullptr;
    OwnedSocket socket;
    bool started = false;
    bool done = false;  // reported and closed
  };
  std::vector<Slot> slots;
  std::vector<TransferId> live;  // slots not yet done, in order of addition
  std::vector<PollEntry> poll;
  FinishedHandler onFinished;
  Outbox out;
  std::string buffer = std::string(kReceiveBuffer, '\0');

  void Flush(Slot& slot) {
    SocketFunctionTable& api = SocketApi();
    for (std::size_t i = 0; i < out.Count(); ++i) {
      const Outbox::Datagram& d = out[i];
      // A failed send is a lost datagram: the time-out sends it again.
      if (slot.socket.Get() != kNoSocket)
        api.sendto(slot.socket.Get(), d.bytes.data(), static_cast<int>(d.bytes.size()), 0, &d.to,
                   SocketAddressLength(d.to));
    }
    out.Clear();
  }

  // Everything queued on the slot's socket, each datagram to the machine.
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
      slot.transfer->OnDatagram(from, std::string_view(buffer.data(), static_cast<std::size_t>(n)),
                                Clock::now(), out);
      Flush(slot);
      if (slot.transfer->Finished()) return;
    }
  }

  // Reports finished transfers (the handler may add new ones) and closes
  // their sockets.
  void Reap() {
    for (std::size_t i = 0; i < live.size();) {
      const TransferId id = live[i];
      if (!slots[id].transfer->Finished()) {
        ++i;
        continue;
      }
      live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
      slots[id].done = true;
      if (onFinished) onFinished(id, *slots[id].transfer);
      slots[id].socket.Reset(kNoSocket);
    }
  }

  void AbandonAll(const std::string& reason) {
    for (TransferId id : live) {
      Slot& slot = slots[id];
      slot.transfer->Abandon(reason, out);
      Flush(slot);
    }
    Reap();
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
    transfer.Abandon(reason, d.out);
    d.out.Clear();
    slot.started = true;
  }
  d.live.push_back(id);
  return id;
}

void TransferDriver::OnFinished(FinishedHandler handler) { impl_->onFinished = std::move(handler); }

std::size_t TransferDriver::Running() const { return impl_->live.size(); }

bool TransferDriver::Run(const std::function<bool()>& stopRequested, const std::string& stopReason) {
  Impl& d = *impl_;
  for (;;) {
    if (stopRequested && stopRequested()) {
      d.AbandonAll(stopReason);
      return false;
    }
    TimePoint now = Clock::now();
    TimePoint earliest = TimePoint::max();
    for (TransferId id : d.live) {
      Impl::Slot& slot = d.slots[id];
      if (!slot.started) {
        slot.started = true;
        slot.transfer->Start(now, d.out);
        d.Flush(slot);
      }
      if (!slot.transfer->Finished() && slot.transfer->Deadline() <= now) {
        slot.transfer->OnTimer(now, d.out);
        d.Flush(slot);
      }
      earliest = std::min(earliest, slot.transfer->Deadline());
    }
    d.Reap();
    if (d.live.empty()) return true;

    auto wait = earliest == TimePoint::max() ? std::chrono::milliseconds(kStopCheck)
                                             : std::chrono::ceil<std::chrono::milliseconds>(earliest - now);
    if (stopRequested) wait = std::min(wait, std::chrono::milliseconds(kStopCheck));
    wait = std::clamp(wait, std::chrono::milliseconds(0), std::chrono::milliseconds(60000));

    d.poll.resize(d.live.size());
    for (std::size_t i = 0; i < d.live.size(); ++i)
      d.poll[i] = PollEntry{d.slots[d.live[i]].socket.Get(), false};
    if (PollReadable(d.poll.data(), d.poll.size(), static_cast<int>(wait.count())) <= 0) continue;
    for (std::size_t i = 0; i < d.poll.size(); ++i) {
      if (!d.poll[i].ready) continue;
      Impl::Slot& slot = d.slots[d.live[i]];
      if (!slot.transfer->Finished()) d.Drain(slot);
    }
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
