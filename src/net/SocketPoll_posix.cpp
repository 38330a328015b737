// poll() over the POSIX back end's handles, which are the system's file
// descriptors. The pollfd array is kept per thread so a wait allocates only
// when the number of sockets grows. The kept set is an epoll instance
// (level-triggered: unread datagrams report the socket again).
#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "net/PosixErrors.h"

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

// Ready sockets taken from the queue per wait; more wait for the next turn,
// which the queue serves first, so none is passed over twice in a row.
constexpr int kReadyPerWait = 256;

struct SocketPollSet::Impl {
  int queue = ::epoll_create1(EPOLL_CLOEXEC);
  std::size_t size = 0;
  epoll_event events[kReadyPerWait];
};

SocketPollSet::SocketPollSet() : impl_(std::make_unique<Impl>()) {}
SocketPollSet::~SocketPollSet() {
  if (impl_->queue >= 0) ::close(impl_->queue);
}

bool SocketPollSet::Add(SocketHandle handle, std::uint64_t tag) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = tag;
  if (impl_->queue < 0 || ::epoll_ctl(impl_->queue, EPOLL_CTL_ADD, static_cast<int>(handle), &event) != 0) {
    detail::SetSystemSocketError(WindowsErrorFromErrno(impl_->queue < 0 ? EMFILE : errno));
    return false;
  }
  ++impl_->size;
  return true;
}

void SocketPollSet::Remove(SocketHandle handle) {
  if (impl_->queue >= 0 && ::epoll_ctl(impl_->queue, EPOLL_CTL_DEL, static_cast<int>(handle), nullptr) == 0)
    --impl_->size;
}

std::size_t SocketPollSet::Size() const { return impl_->size; }

int SocketPollSet::Wait(int timeoutMs, std::vector<std::uint64_t>& ready) {
  ready.clear();
  if (impl_->queue < 0) {
    detail::SetSystemSocketError(WindowsErrorFromErrno(EMFILE));
    return -1;
  }
  const int n = ::epoll_wait(impl_->queue, impl_->events, kReadyPerWait, timeoutMs);
  if (n < 0) {
    if (errno == EINTR) return 0;  // as an empty wait: the caller loops anyway
    detail::SetSystemSocketError(WindowsErrorFromErrno(errno));
    return -1;
  }
  for (int i = 0; i < n; ++i) ready.push_back(impl_->events[i].data.u64);
  return n;
}

}  // namespace tarnwick
