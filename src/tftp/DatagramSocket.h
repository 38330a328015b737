// The UDP sockets the drivers run transfers over: one move-only owner, the
// opening of a non-blocking socket bound to an address, and the sending of
// an Outbox's datagrams (a full send buffer is waited on, briefly). Shared
// by TransferDriver (the client's transfers) and the server's loop.
#pragma once

#include <cstdint>
#include <string>

#include "net/SocketAddress.h"
#include "net/SocketApi.h"
#include "tftp/ClientTransfer.h"

namespace tarnwick::tftp {

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
  void Reset(SocketHandle handle);

 private:
  SocketHandle handle_ = kNoSocket;
};

// "what: the system's words (code)".
std::string SocketFailure(const char* what, int code);

// A non-blocking UDP socket bound to local (its family; any address and
// port when only the family is set). ipv6Only keeps an IPv6 socket from
// taking IPv4 too, so both families can share a port. Empty reason on
// success.
OwnedSocket OpenBoundSocket(const SocketAddress& local, bool ipv6Only, std::string& reason);
// A UDP socket of the family bound to any address and port.
OwnedSocket OpenSocket(std::uint16_t family, std::string& reason);

// Where a socket is bound; empty record when it cannot be told.
SocketAddress LocalAddress(SocketHandle socket);

// Sends every datagram of box through socket (none when there is no
// socket), several per system call where the system allows, each header
// and lent payload gathered by the system, and clears it; a full send
// buffer is waited on a few times.
// Returns the datagrams handed to the system.
std::uint64_t SendOutbox(SocketHandle socket, Outbox& box);

}  // namespace tarnwick::tftp
