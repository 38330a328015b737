// WSASendTo with two buffers per datagram. It is not part of the layer's
// bound table (which mirrors the older library's exports), so it is looked
// up once in the same socket library; without it the two pieces are joined
// and sent through the table's sendto.
#include <windows.h>

#include <cstdint>
#include <string>

#include "net/DatagramSend.h"

namespace tarnwick {

namespace {

// The WSABUF layout, independent of the header's version.
struct BufferRecord {
  unsigned long length;
  char* bytes;
};

using SendToFunction = int(__attribute__((stdcall)) *)(std::uintptr_t, BufferRecord*, unsigned long,
                                                        unsigned long*, unsigned long, const SocketAddress*, int,
                                                        void*, void*);

SendToFunction LookUpSendTo() {
  HMODULE library = GetModuleHandleW(L"ws2_32.dll");
  if (!library) return nullptr;
  return reinterpret_cast<SendToFunction>(reinterpret_cast<void*>(GetProcAddress(library, "WSASendTo")));
}

int SendOne(SocketHandle socket, const OutgoingDatagram& d) {
  static const SendToFunction sendTo = LookUpSendTo();
  const int toLength = d.to ? SocketAddressLength(*d.to) : 0;
  if (sendTo) {
    BufferRecord pieces[2] = {{static_cast<unsigned long>(d.headSize), const_cast<char*>(d.head)},
                              {static_cast<unsigned long>(d.tailSize), const_cast<char*>(d.tail)}};
    unsigned long sent = 0;
    return sendTo(static_cast<std::uintptr_t>(socket), pieces, d.tailSize ? 2 : 1, &sent, 0, d.to, toLength,
                  nullptr, nullptr);
  }
  thread_local std::string joined;
  joined.assign(d.head, d.headSize);
  if (d.tailSize) joined.append(d.tail, d.tailSize);
  return SocketApi().sendto(socket, joined.data(), static_cast<int>(joined.size()), 0, d.to, toLength);
}

}  // namespace

int SendDatagrams(SocketHandle socket, const OutgoingDatagram* datagrams, std::size_t count) {
  if (count > kDatagramBatch) count = kDatagramBatch;
  // The system has no batch call: one at a time, stopping at the first
  // failure so the caller sees its error.
  for (std::size_t i = 0; i < count; ++i) {
    if (SendOne(socket, datagrams[i]) < 0) return i == 0 ? -1 : static_cast<int>(i);
  }
  return static_cast<int>(count);
}

}  // namespace tarnwick
