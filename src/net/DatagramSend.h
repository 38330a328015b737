// Sending UDP datagrams made of two pieces (a header and a payload that lies
// elsewhere, such as a shared read buffer) without joining them first, and
// several at once where the system can: sendmmsg with two buffers each on
// Linux, WSASendTo with two buffers per datagram on Windows (looked up in
// the socket library at run time; without it the pieces are joined and
// sent through the layer's sendto). Errors are Windows Sockets numbers
// through SocketLastError, like every other call of the layer.
#pragma once

#include <cstddef>

#include "net/SocketAddress.h"
#include "net/SocketApi.h"

namespace tarnwick {

// Plain (no member initialisers), so a batch of them on the stack costs
// nothing until filled.
struct OutgoingDatagram {
  const SocketAddress* to;
  const char* head;
  std::size_t headSize;
  const char* tail;  // may be null when tailSize is 0
  std::size_t tailSize;
};

// The most datagrams one call hands to the system.
inline constexpr std::size_t kDatagramBatch = 16;

// Hands datagrams[0..count) to the system in order, at most kDatagramBatch.
// Returns how many it took (at least 1), or -1 when the first one failed
// (SocketLastError tells why; the rest were not tried).
int SendDatagrams(SocketHandle socket, const OutgoingDatagram* datagrams, std::size_t count);

}  // namespace tarnwick
