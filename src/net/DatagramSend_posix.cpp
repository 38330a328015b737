// sendmmsg: one system call for a batch, each datagram gathered from its
// header and payload pieces by the kernel.
#include <errno.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include "net/DatagramSend.h"
#include "net/NativeAddress_posix.h"
#include "net/PosixErrors.h"

namespace tarnwick {

int SendDatagrams(SocketHandle socket, const OutgoingDatagram* datagrams, std::size_t count) {
  if (count > kDatagramBatch) count = kDatagramBatch;
  sockaddr_storage names[kDatagramBatch];
  iovec pieces[kDatagramBatch][2];
  mmsghdr messages[kDatagramBatch];
  for (std::size_t i = 0; i < count; ++i) {
    const OutgoingDatagram& d = datagrams[i];
    pieces[i][0] = iovec{const_cast<char*>(d.head), d.headSize};
    pieces[i][1] = iovec{const_cast<char*>(d.tail), d.tailSize};
    msghdr& m = messages[i].msg_hdr;
    m = msghdr{};
    m.msg_namelen = d.to ? detail::NativeAddress(*d.to, names[i]) : 0;
    m.msg_name = m.msg_namelen ? &names[i] : nullptr;
    m.msg_iov = pieces[i];
    m.msg_iovlen = d.tailSize ? 2 : 1;
  }
  int sent;
  do {
    sent = ::sendmmsg(static_cast<int>(socket), messages, static_cast<unsigned>(count), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent > 0) return sent;
  // Nothing taken, yet no error: as a full buffer, for the caller to wait on.
  detail::SetSystemSocketError(sent < 0 ? WindowsErrorFromErrno(errno) : WindowsErrorFromErrno(EAGAIN));
  return -1;
}

}  // namespace tarnwick
