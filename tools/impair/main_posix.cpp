// tarnwick-impair: a UDP relay that impairs TFTP traffic for tests and
// benchmarks on machines without netem. One thread, one poll set over the
// listening socket and every socket of the route table; the impairment
// queues decide when each datagram leaves.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ImpairOptions.h"
#include "Impairment.h"
#include "RelayRoutes.h"

namespace {

using namespace tarnwick::impair;

volatile sig_atomic_t stopRequested = 0;
void OnStopSignal(int) { stopRequested = 1; }

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept {
    std::swap(fd_, o.fd_);
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

socklen_t ToSockaddr(const Endpoint& e, sockaddr_storage& out) {
  std::memset(&out, 0, sizeof out);
  if (e.family == 4) {
    auto* a = reinterpret_cast<sockaddr_in*>(&out);
    a->sin_family = AF_INET;
    a->sin_port = htons(e.port);
    std::memcpy(&a->sin_addr, e.address.data(), 4);
    return sizeof *a;
  }
  auto* a = reinterpret_cast<sockaddr_in6*>(&out);
  a->sin6_family = AF_INET6;
  a->sin6_port = htons(e.port);
  std::memcpy(&a->sin6_addr, e.address.data(), 16);
  return sizeof *a;
}

Endpoint FromSockaddr(const sockaddr_storage& in) {
  Endpoint e;
  if (in.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(&in);
    e.family = 4;
    e.port = ntohs(a->sin_port);
    std::memcpy(e.address.data(), &a->sin_addr, 4);
  } else {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&in);
    e.family = 6;
    e.port = ntohs(a->sin6_port);
    std::memcpy(e.address.data(), &a->sin6_addr, 16);
  }
  return e;
}

// A UDP socket bound to `at` (port 0: any free one); -1 inside on failure.
Fd OpenBound(Endpoint at) {
  Fd fd(::socket(at.family == 4 ? AF_INET : AF_INET6, SOCK_DGRAM, 0));
  if (fd.Get() < 0) return fd;
  // Deep buffers: a window of 64 large blocks must not be lost in the relay's
  // own socket before the impairment decides anything.
  int size = 4 << 20;
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  sockaddr_storage a;
  socklen_t len = ToSockaddr(at, a);
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&a), len) != 0) return Fd();
  return fd;
}

// Upstream sockets: on loopback when the server is there, so nothing from
// outside the machine can reach them; any address otherwise.
Endpoint UpstreamAddress(const Endpoint& server) {
  Endpoint e;
  e.family = server.family;
  const bool loopback =
      server.family == 4
          ? server.address[0] == 127
          : server.address == std::array<std::uint8_t, 16>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  if (loopback) e.address = server.address;
  return e;
}

class Relay {
 public:
  explicit Relay(const RelayOptions& o)
      : options_(o),
        routes_(o.server, o.maxSockets),
        toServer_(o.toServer, DirectionSeed(o.seed, true), o.queueCapacity),
        toClient_(o.toClient, DirectionSeed(o.seed, false), o.queueCapacity) {}

  bool Open() {
    Fd listen = OpenBound(options_.listen);
    if (listen.Get() < 0) return false;
    sockets_.emplace(kListenSocket, std::move(listen));
    return true;
  }

  std::uint16_t ListenPort() const {
    sockaddr_storage a;
    socklen_t len = sizeof a;
    ::getsockname(sockets_.at(kListenSocket).Get(), reinterpret_cast<sockaddr*>(&a), &len);
    return FromSockaddr(a).port;
  }

  void Run() {
    std::vector<pollfd> polled;
    std::vector<SocketId> ids;
    std::string buffer(65536 + 64, '\0');
    std::uint64_t lastExpiry = NowMs();
    while (!stopRequested) {
      polled.clear();
      ids.clear();
      for (const auto& [id, fd] : sockets_) {
        polled.push_back(pollfd{fd.Get(), POLLIN, 0});
        ids.push_back(id);
      }
      // Bounded so a stop request is seen within 100 ms whatever the queues hold.
      int timeout = 100;
      const std::uint64_t now = NowMs();
      for (const Impairer* queue : {&toServer_, &toClient_})
        if (auto due = queue->NextDue()) timeout = std::min<int>(timeout, *due > now ? int(*due - now) : 0);
      if (::poll(polled.data(), polled.size(), timeout) < 0 && errno != EINTR) break;
      for (std::size_t i = 0; i < polled.size(); ++i)
        if (polled[i].revents & POLLIN) Receive(ids[i], polled[i].fd, buffer);
      Flush(toServer_);
      Flush(toClient_);
      if (NowMs() - lastExpiry > 1000) {
        lastExpiry = NowMs();
        for (SocketId gone : routes_.Expire(lastExpiry, options_.idleMs)) {
          sockets_.erase(gone);
          upstreamIds_.erase(gone);
        }
      }
    }
  }

  void PrintStats() const {
    const DirectionStats& c = toServer_.Stats();
    const DirectionStats& s = toClient_.Stats();
    std::fprintf(
        stderr,
        "tarnwick-impair: c2s received %llu lost %llu duplicated %llu held %llu overflow %llu sent %llu; "
        "s2c received %llu lost %llu duplicated %llu held %llu overflow %llu sent %llu\n",
        ull(c.received), ull(c.lost), ull(c.duplicated), ull(c.held), ull(c.overflow), ull(c.sent),
        ull(s.received), ull(s.lost), ull(s.duplicated), ull(s.held), ull(s.overflow), ull(s.sent));
  }

 private:
  static unsigned long long ull(std::uint64_t v) { return v; }

  void Receive(SocketId on, int fd, std::string& buffer) {
    // Drain what is there now, but a bounded number, so one busy socket
    // cannot starve the queues.
    for (int n = 0; n < 64; ++n) {
      sockaddr_storage from;
      socklen_t len = sizeof from;
      ssize_t got = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &len);
      if (got < 0) return;
      const Endpoint sender = FromSockaddr(from);
      const std::uint64_t now = NowMs();
      const bool fromServerSide = on != kListenSocket && IsUpstream(on);
      auto hop = fromServerSide ? routes_.FromServer(on, sender, now) : routes_.FromClient(on, sender, now);
      if (!hop) continue;
      if (hop->opened && !OpenFor(hop->via, fromServerSide)) continue;
      Impairer& queue = fromServerSide ? toClient_ : toServer_;
      queue.Submit(Datagram{hop->via, hop->to, buffer.substr(0, static_cast<std::size_t>(got))}, now);
    }
  }

  bool IsUpstream(SocketId id) const { return upstreamIds_.count(id) != 0; }

  // A new client-facing socket (for a new server port) or upstream socket
  // (for a new client).
  bool OpenFor(SocketId id, bool facing) {
    Endpoint at = facing ? options_.listen : UpstreamAddress(options_.server);
    at.port = 0;
    Fd fd = OpenBound(at);
    if (fd.Get() < 0) {
      routes_.Remove(id);
      return false;
    }
    sockets_.emplace(id, std::move(fd));
    if (!facing) upstreamIds_.insert(id);
    return true;
  }

  void Flush(Impairer& queue) {
    const std::uint64_t now = NowMs();
    while (auto datagram = queue.PopDue(now)) {
      auto socket = sockets_.find(datagram->via);
      if (socket == sockets_.end()) continue;  // expired meanwhile
      sockaddr_storage to;
      socklen_t len = ToSockaddr(datagram->to, to);
      ::sendto(socket->second.Get(), datagram->bytes.data(), datagram->bytes.size(), 0,
               reinterpret_cast<sockaddr*>(&to), len);
    }
  }

  RelayOptions options_;
  RelayRoutes routes_;
  Impairer toServer_, toClient_;
  std::map<SocketId, Fd> sockets_;
  std::set<SocketId> upstreamIds_;
};

}  // namespace

int main(int argc, char** argv) {
  RelayOptions options;
  const std::string error = ParseRelayOptions(std::vector<std::string>(argv + 1, argv + argc), options);
  if (!error.empty()) {
    std::fprintf(stderr, "tarnwick-impair: %s\n%s", error.c_str(), kRelayUsage);
    return 2;
  }
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  ::sigaction(SIGTERM, &stop, nullptr);
  ::sigaction(SIGINT, &stop, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  Relay relay(options);
  if (!relay.Open()) {
    std::fprintf(stderr, "tarnwick-impair: cannot bind %s: %s\n", EndpointText(options.listen).c_str(),
                 std::strerror(errno));
    return 1;
  }
  std::printf("%u\n", relay.ListenPort());
  std::fflush(stdout);
  relay.Run();
  relay.PrintStats();
  return 0;
}
