// poll() over the POSIX back end's handles, which are the system's file
// descriptors. The pollfd array is kept per thread so a wait allocates only
// when the number of sockets grows.
#include <poll.h>

#include <cerrno>
#include <vector>

#include "net/SocketPoll.h"

namespace tarnwick {

int PollReadable(PollEntry* entries, std::size_t count, int timeoutMs) {
  thread_local std::vector<pollfd> fds;
  fds.resize(count);
  for (std::size_t i = 0; i < count; ++i) fds[i] = pollfd{static_cast<int>(entries[i].handle), POLLIN, 0};
  int r = ::poll(fds.data(), static_cast<nfds_t>(count), timeoutMs);
  if (r < 0) {
    // An interrupted wait is an empty one; the caller loops anyway.
    if (errno == EINTR)
      r = 0;
    else {
      detail::SetSystemSocketError(errno == ENOMEM ? 10055 : 10022);
      return -1;
    }
  }
  int ready = 0;
  for (std::size_t i = 0; i < count; ++i) {
    entries[i].ready = (fds[i].revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) != 0;
    ready += entries[i].ready ? 1 : 0;
  }
  return ready;
}

}  // namespace tarnwick
