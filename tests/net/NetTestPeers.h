// Plain loopback peers for the socket tests, built straight on the function
// table (below the socket classes under test), so that a fault in the
// classes cannot hide itself on both ends of a conversation.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "net/SocketApi.h"

namespace tarnwick::test {

inline SocketAddress LoopbackAddress(const std::string& host, std::uint16_t port) {
  SocketAddress a;
  a.Clear();
  if (host == "::1") {
    a.family = kFamilyIPv6;
    a.IPv6Bytes()[15] = 1;
  } else {
    a.family = kFamilyIPv4;
    const std::uint8_t loop[4] = {127, 0, 0, 1};
    std::memcpy(a.IPv4Bytes(), loop, 4);
  }
  a.port = SocketApi().htons(port);
  return a;
}

inline bool WaitReadableRaw(SocketHandle s, int ms) {
  DescriptorSet set;
  DescriptorSetClear(set);
  DescriptorSetAdd(s, set);
  WaitLimit limit{ms / 1000, (ms % 1000) * 1000};
  return SocketApi().select(static_cast<int>(s + 1), &set, nullptr, nullptr, &limit) > 0;
}

inline bool WaitWritableRaw(SocketHandle s, int ms) {
  DescriptorSet set;
  DescriptorSetClear(set);
  DescriptorSetAdd(s, set);
  WaitLimit limit{ms / 1000, (ms % 1000) * 1000};
  return SocketApi().select(static_cast<int>(s + 1), nullptr, &set, nullptr, &limit) > 0;
}

class LoopbackUdpPeer {
 public:
  explicit LoopbackUdpPeer(const std::string& host) : host_(host) {
    SocketFunctionTable& api = SocketApi();
    SocketAddress local = LoopbackAddress(host, 0);
    handle_ = api.socket(local.family, 2, 17);
    api.bind(handle_, &local, SocketAddressLength(local));
    int length = sizeof(local);
    api.getsockname(handle_, &local, &length);
    port_ = api.ntohs(local.port);
    last_.Clear();
  }
  ~LoopbackUdpPeer() { SocketApi().closesocket(handle_); }
  LoopbackUdpPeer(const LoopbackUdpPeer&) = delete;
  LoopbackUdpPeer& operator=(const LoopbackUdpPeer&) = delete;

  std::uint16_t Port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }
  bool Valid() const { return handle_ != kNoSocket && port_ != 0; }

  // One datagram within ms milliseconds; remembers its sender.
  bool Receive(std::string& payload, int ms) {
    if (!WaitReadableRaw(handle_, ms)) return false;
    std::vector<char> buffer(65536);
    int length = sizeof(last_);
    int n = SocketApi().recvfrom(handle_, buffer.data(), static_cast<int>(buffer.size()), 0, &last_, &length);
    if (n < 0) return false;
    payload.assign(buffer.data(), static_cast<std::size_t>(n));
    return true;
  }
  std::uint16_t LastSenderPort() const { return SocketApi().ntohs(last_.port); }

  int Reply(const std::string& payload) {
    return SocketApi().sendto(handle_, payload.data(), static_cast<int>(payload.size()), 0, &last_,
                              SocketAddressLength(last_));
  }
  int SendTo(std::uint16_t port, const std::string& payload) {
    SocketAddress to = LoopbackAddress(host_, port);
    return SocketApi().sendto(handle_, payload.data(), static_cast<int>(payload.size()), 0, &to,
                              SocketAddressLength(to));
  }

 private:
  std::string host_;
  SocketHandle handle_ = kNoSocket;
  std::uint16_t port_ = 0;
  SocketAddress last_;
};

// A listening TCP socket on loopback that accepts one connection.
class LoopbackTcpListener {
 public:
  explicit LoopbackTcpListener(const std::string& host) {
    SocketFunctionTable& api = SocketApi();
    SocketAddress local = LoopbackAddress(host, 0);
    listener_ = api.socket(local.family, 1, 6);
    api.bind(listener_, &local, SocketAddressLength(local));
    api.listen(listener_, 4);
    int length = sizeof(local);
    api.getsockname(listener_, &local, &length);
    port_ = api.ntohs(local.port);
  }
  ~LoopbackTcpListener() {
    if (peer_ != kNoSocket) SocketApi().closesocket(peer_);
    SocketApi().closesocket(listener_);
  }
  LoopbackTcpListener(const LoopbackTcpListener&) = delete;
  LoopbackTcpListener& operator=(const LoopbackTcpListener&) = delete;

  std::string PortText() const { return std::to_string(port_); }
  bool Accept(int ms) {
    if (!WaitReadableRaw(listener_, ms)) return false;
    SocketAddress from;
    int length = sizeof(from);
    peer_ = SocketApi().accept(listener_, &from, &length);
    return peer_ != kNoSocket;
  }
  int Send(const std::string& bytes) {
    return SocketApi().send(peer_, bytes.data(), static_cast<int>(bytes.size()), 0);
  }
  std::string ReceiveSome(int ms) {
    if (!WaitReadableRaw(peer_, ms)) return std::string();
    char buffer[4096];
    int n = SocketApi().recv(peer_, buffer, sizeof(buffer), 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
  }
  SocketHandle Peer() const { return peer_; }
  void ClosePeer() {
    SocketApi().closesocket(peer_);
    peer_ = kNoSocket;
  }

 private:
  SocketHandle listener_ = kNoSocket;
  SocketHandle peer_ = kNoSocket;
  std::uint16_t port_ = 0;
};

inline bool HasIPv6Loopback() {
  SocketFunctionTable& api = SocketApi();
  SocketAddress local = LoopbackAddress("::1", 0);
  SocketHandle s = api.socket(local.family, 2, 17);
  if (s == kNoSocket) return false;
  bool ok = api.bind(s, &local, SocketAddressLength(local)) == 0;
  api.closesocket(s);
  return ok;
}

}  // namespace tarnwick::test
