#include "tftp/DatagramSocket.h"

#include <algorithm>

#include "net/DatagramSend.h"
#include "net/SocketError.h"

namespace tarnwick::tftp {

namespace {

constexpr int kDatagram = 2;
constexpr int kUdp = 17;
// Socket option numbers as the socket layer takes them (Windows values).
constexpr int kIpv6Level = 41;
constexpr int kIpv6Only = 27;
// A full send buffer is waited on this long, this many times per datagram.
constexpr std::chrono::milliseconds kSendWait{1000};
constexpr int kSendWaits = 3;

// Waits until the socket can take a datagram again; false after `limit`.
bool WaitWritable(SocketHandle handle, std::chrono::milliseconds limit) {
  DescriptorSet writable{};
  writable.count = 1;
  writable.handles[0] = handle;
  const WaitLimit wait{static_cast<std::int32_t>(limit.count() / 1000),
                       static_cast<std::int32_t>(limit.count() % 1000 * 1000)};
  return SocketApi().select(0, nullptr, &writable, nullptr, &wait) > 0;
}

}  // namespace

void OwnedSocket::Reset(SocketHandle handle) {
  if (handle_ != kNoSocket) SocketApi().closesocket(handle_);
  handle_ = handle;
}

std::string SocketFailure(const char* what, int code) {
  return std::string(what) + ": " + GetErrorDesc(code) + " (" + std::to_string(code) + ")";
}

OwnedSocket OpenBoundSocket(const SocketAddress& local, bool ipv6Only, std::string& reason) {
  SocketFunctionTable& api = SocketApi();
  OwnedSocket socket(api.socket(local.family, kDatagram, kUdp));
  if (socket.Get() == kNoSocket) {
    reason = SocketFailure("cannot open a UDP socket", SocketLastError());
    return socket;
  }
  std::uint32_t on = 1;
  if (api.ioctlsocket(socket.Get(), static_cast<std::int32_t>(kIoctlNonBlocking), &on) != 0) {
    reason = SocketFailure("cannot make the UDP socket non-blocking", SocketLastError());
    return OwnedSocket();
  }
  if (ipv6Only && local.family == kFamilyIPv6) {
    const std::uint32_t yes = 1;
    api.setsockopt(socket.Get(), kIpv6Level, kIpv6Only, reinterpret_cast<const char*>(&yes), sizeof yes);
  }
  if (api.bind(socket.Get(), &local, SocketAddressLength(local)) != 0) {
    reason = SocketFailure("cannot bind the UDP socket", SocketLastError());
    return OwnedSocket();
  }
  return socket;
}

OwnedSocket OpenSocket(std::uint16_t family, std::string& reason) {
  SocketAddress any{};
  any.family = family;
  return OpenBoundSocket(any, false, reason);
}

SocketAddress LocalAddress(SocketHandle socket) {
  SocketAddress local{};
  int length = sizeof local;
  if (SocketApi().getsockname(socket, &local, &length) != 0) local.Clear();
  return local;
}

std::uint64_t SendOutbox(SocketHandle socket, Outbox& box) {
  const std::uint64_t count = box.Count();
  OutgoingDatagram batch[kDatagramBatch];
  std::size_t done = 0;
  int waits = 0;  // for the datagram at `done`
  while (done < box.Count() && socket != kNoSocket) {
    const std::size_t n = std::min(box.Count() - done, kDatagramBatch);
    for (std::size_t i = 0; i < n; ++i) {
      const Outbox::Datagram& d = box[done + i];
      batch[i] = OutgoingDatagram{&d.to, d.bytes.data(), d.bytes.size(), d.payload.data(), d.payload.size()};
    }
    const int sent = SendDatagrams(socket, batch, n);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
      waits = 0;
      continue;
    }
    // A full send buffer is waited on: the datagram is not lost, only
    // early. Any other failure is a lost datagram the time-out sends again.
    if (SocketLastError() == kErrorWouldBlock && waits < kSendWaits && WaitWritable(socket, kSendWait)) {
      ++waits;
      continue;
    }
    ++done;
    waits = 0;
  }
  box.Clear();
  return count;
}

}  // namespace tarnwick::tftp
