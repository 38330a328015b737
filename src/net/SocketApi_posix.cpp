// POSIX back end of the binding: the function table points at adapters over
// the C library that take and give the Windows numbers (address families,
// option levels and names, ioctl commands, resolver flags, error codes), so
// the layer above cannot tell the two systems apart. Waits use poll, which
// has no descriptor limit.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <string>

#include "net/NativeAddress_posix.h"
#include "net/PosixErrors.h"
#include "net/SocketApi.h"

namespace tarnwick {
namespace {

thread_local int lastError = 0;

// Records errno (translated) and yields the failure value -1.
int Fail() {
  lastError = WindowsErrorFromErrno(errno);
  return -1;
}
int FailWith(int code) {
  lastError = code;
  return -1;
}

int NativeFamily(int family) {
  if (family == kFamilyIPv4) return AF_INET;
  if (family == kFamilyIPv6) return AF_INET6;
  if (family == kFamilyUnspecified) return AF_UNSPEC;
  return -1;
}

// Windows record to native sockaddr; the layouts differ only in the family
// number. Returns the native length, 0 for an empty or unknown record.
socklen_t ToNative(const SocketAddress* in, int length, sockaddr_storage& out) {
  // Only the part a sockaddr_in6 covers is ever read back: clearing that
  // much (a constant size, a few stores) rather than the whole storage
  // keeps the per-datagram cost down.
  std::memset(&out, 0, sizeof(sockaddr_in6));
  if (!in || length < 16) return 0;
  if (in->family == kFamilyIPv4) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    v4->sin_family = AF_INET;
    v4->sin_port = in->port;
    std::memcpy(&v4->sin_addr, in->IPv4Bytes(), 4);
    return sizeof(sockaddr_in);
  }
  if (in->family == kFamilyIPv6 && length >= 28) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = in->port;
    std::memcpy(&v6->sin6_flowinfo, in->rest, 4);
    std::memcpy(&v6->sin6_addr, in->IPv6Bytes(), 16);
    std::memcpy(&v6->sin6_scope_id, in->rest + 20, 4);
    return sizeof(sockaddr_in6);
  }
  return 0;
}

// Native sockaddr to the Windows record; *length receives the record length.
void FromNative(const sockaddr* in, SocketAddress* out, int* length) {
  if (!out) return;
  SocketAddress record;
  record.Clear();
  int used = 0;
  if (in && in->sa_family == AF_INET) {
    auto* v4 = reinterpret_cast<const sockaddr_in*>(in);
    record.family = kFamilyIPv4;
    record.port = v4->sin_port;
    std::memcpy(record.IPv4Bytes(), &v4->sin_addr, 4);
    used = 16;
  } else if (in && in->sa_family == AF_INET6) {
    auto* v6 = reinterpret_cast<const sockaddr_in6*>(in);
    record.family = kFamilyIPv6;
    record.port = v6->sin6_port;
    std::memcpy(record.rest, &v6->sin6_flowinfo, 4);
    std::memcpy(record.IPv6Bytes(), &v6->sin6_addr, 16);
    std::memcpy(record.rest + 20, &v6->sin6_scope_id, 4);
    used = 28;
  }
  int room = length ? *length : 28;
  if (room > 28) room = 28;
  if (room < 0) room = 0;
  // The usual caller has room for the whole record: a plain copy then.
  if (room == 28)
    *out = record;
  else
    std::memcpy(out, &record, static_cast<std::size_t>(room));
  if (length) *length = used;
}

int Fd(SocketHandle handle) { return static_cast<int>(handle); }

int closesocketAdapter(SocketHandle s) { return ::close(Fd(s)) == 0 ? 0 : Fail(); }

int ioctlsocketAdapter(SocketHandle s, std::int32_t command, std::uint32_t* argument) {
  if (!argument) return FailWith(10014);
  const auto cmd = static_cast<std::uint32_t>(command);
  if (cmd == kIoctlBytesReadable) {
    int count = 0;
    if (::ioctl(Fd(s), FIONREAD, &count) != 0) return Fail();
    *argument = static_cast<std::uint32_t>(count);
    return 0;
  }
  if (cmd == kIoctlNonBlocking) {
    int flags = ::fcntl(Fd(s), F_GETFL, 0);
    if (flags < 0) return Fail();
    flags = *argument ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(Fd(s), F_SETFL, flags) == 0 ? 0 : Fail();
  }
  return FailWith(10022);
}

int WSAGetLastErrorAdapter() { return lastError; }

int WSAStartupAdapter(std::uint16_t version, SocketServiceRecord* info) {
  if (info) {
    std::memset(info, 0, sizeof(*info));
    info->version = version;
    info->highVersion = 0x0202;
    std::strcpy(info->description, "POSIX sockets");
    std::strcpy(info->systemStatus, "Running");
    info->maxDatagram = 65507;
  }
  return 0;
}
int WSACleanupAdapter() { return 0; }

SocketHandle acceptAdapter(SocketHandle s, SocketAddress* address, int* length) {
  sockaddr_storage native;
  socklen_t nativeLength = sizeof(native);
  int fd = ::accept(Fd(s), reinterpret_cast<sockaddr*>(&native), &nativeLength);
  if (fd < 0) return Fail();
  FromNative(reinterpret_cast<sockaddr*>(&native), address, length);
  return fd;
}

int bindAdapter(SocketHandle s, const SocketAddress* address, int length) {
  sockaddr_storage native;
  socklen_t n = ToNative(address, length, native);
  if (n == 0) return FailWith(10014);
  return ::bind(Fd(s), reinterpret_cast<sockaddr*>(&native), n) == 0 ? 0 : Fail();
}

int connectAdapter(SocketHandle s, const SocketAddress* address, int length) {
  sockaddr_storage native;
  socklen_t n = ToNative(address, length, native);
  if (n == 0) return FailWith(10014);
  return ::connect(Fd(s), reinterpret_cast<sockaddr*>(&native), n) == 0 ? 0 : Fail();
}

template <typename Query>
int NameQuery(Query query, SocketHandle s, SocketAddress* address, int* length) {
  sockaddr_storage native;
  socklen_t n = sizeof(native);
  std::memset(&native, 0, sizeof(native));
  if (query(Fd(s), reinterpret_cast<sockaddr*>(&native), &n) != 0) return Fail();
  FromNative(reinterpret_cast<sockaddr*>(&native), address, length);
  return 0;
}
int getpeernameAdapter(SocketHandle s, SocketAddress* a, int* l) { return NameQuery(::getpeername, s, a, l); }
int getsocknameAdapter(SocketHandle s, SocketAddress* a, int* l) { return NameQuery(::getsockname, s, a, l); }

// Windows option (level, name) to the native pair; false when unknown.
bool NativeOption(int level, int name, int& nativeLevel, int& nativeName) {
  if (level == 0xFFFF) {
    nativeLevel = SOL_SOCKET;
    switch (name) {
      case 0x80:
        nativeName = SO_LINGER;
        return true;
      case 0x1001:
        nativeName = SO_SNDBUF;
        return true;
      case 0x1002:
        nativeName = SO_RCVBUF;
        return true;
      case 0x1005:
        nativeName = SO_SNDTIMEO;
        return true;
      case 0x1006:
        nativeName = SO_RCVTIMEO;
        return true;
      case 4:
        nativeName = SO_REUSEADDR;
        return true;
      case 0x20:
        nativeName = SO_BROADCAST;
        return true;
      case 0x1008:
        nativeName = SO_TYPE;
        return true;
      case 0x1007:
        nativeName = SO_ERROR;
        return true;
    }
    return false;
  }
  if (level == 0) {
    nativeLevel = IPPROTO_IP;
    switch (name) {
      case 4:
        nativeName = IP_TTL;
        return true;
      case 10:
        nativeName = IP_MULTICAST_TTL;
        return true;
      case 11:
        nativeName = IP_MULTICAST_LOOP;
        return true;
    }
    return false;
  }
  if (level == 41) {
    nativeLevel = IPPROTO_IPV6;
    switch (name) {
      case 4:
        nativeName = IPV6_UNICAST_HOPS;
        return true;
      case 10:
        nativeName = IPV6_MULTICAST_HOPS;
        return true;
      case 11:
        nativeName = IPV6_MULTICAST_LOOP;
        return true;
      case 27:
        nativeName = IPV6_V6ONLY;
        return true;
    }
    return false;
  }
  if (level == 6 && name == 1) {
    nativeLevel = IPPROTO_TCP;
    nativeName = 1;  // TCP_NODELAY has the same number
    return true;
  }
  return false;
}

int setsockoptAdapter(SocketHandle s, int level, int name, const char* value, int length) {
  int nl, nn;
  if (!NativeOption(level, name, nl, nn)) return FailWith(10042);
  if (!value || length < 0) return FailWith(10014);
  if (nn == SO_LINGER && nl == SOL_SOCKET) {
    if (length < 4) return FailWith(10014);
    std::uint16_t pair[2];
    std::memcpy(pair, value, 4);
    linger native{pair[0] ? 1 : 0, pair[1]};
    return ::setsockopt(Fd(s), nl, nn, &native, sizeof(native)) == 0 ? 0 : Fail();
  }
  if ((nn == SO_RCVTIMEO || nn == SO_SNDTIMEO) && nl == SOL_SOCKET) {
    if (length < 4) return FailWith(10014);
    std::uint32_t ms;
    std::memcpy(&ms, value, 4);
    timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
    return ::setsockopt(Fd(s), nl, nn, &tv, sizeof(tv)) == 0 ? 0 : Fail();
  }
  if (length < 4) return FailWith(10014);
  int v;
  std::memcpy(&v, value, 4);
  return ::setsockopt(Fd(s), nl, nn, &v, sizeof(v)) == 0 ? 0 : Fail();
}

int getsockoptAdapter(SocketHandle s, int level, int name, char* value, int* length) {
  int nl, nn;
  if (!NativeOption(level, name, nl, nn)) return FailWith(10042);
  if (!value || !length || *length < 4) return FailWith(10014);
  int v = 0;
  socklen_t n = sizeof(v);
  if (nn == SO_LINGER || nn == SO_RCVTIMEO || nn == SO_SNDTIMEO) return FailWith(10042);
  if (::getsockopt(Fd(s), nl, nn, &v, &n) != 0) return Fail();
  if (nn == SO_ERROR && v != 0) v = WindowsErrorFromErrno(v);
  std::memcpy(value, &v, 4);
  *length = 4;
  return 0;
}

std::uint32_t inet_addrAdapter(const char* text) {
  if (!text) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(::inet_addr(text));
}

char* inet_ntoaAdapter(std::uint32_t address) {
  static thread_local char text[16];
  in_addr a;
  std::memcpy(&a, &address, 4);
  return ::inet_ntop(AF_INET, &a, text, sizeof(text)) ? text : nullptr;
}

int listenAdapter(SocketHandle s, int backlog) { return ::listen(Fd(s), backlog) == 0 ? 0 : Fail(); }

int recvAdapter(SocketHandle s, char* buffer, int length, int flags) {
  if (length < 0) return FailWith(10014);
  int native = (flags & kPeekFlag) ? MSG_PEEK : 0;
  ssize_t r = ::recv(Fd(s), buffer, static_cast<std::size_t>(length), native);
  return r < 0 ? Fail() : static_cast<int>(r);
}

int recvfromAdapter(SocketHandle s, char* buffer, int length, int flags, SocketAddress* from,
                    int* fromLength) {
  if (length < 0) return FailWith(10014);
  // The kernel writes the sender's address and its length: only the
  // family needs a value in case it writes none.
  sockaddr_storage native;
  native.ss_family = AF_UNSPEC;
  iovec piece{buffer, static_cast<std::size_t>(length)};
  msghdr message{};
  message.msg_name = &native;
  message.msg_namelen = sizeof(native);
  message.msg_iov = &piece;
  message.msg_iovlen = 1;
  const int nativeFlags = (flags & kPeekFlag) ? MSG_PEEK : 0;
  ssize_t r = ::recvmsg(Fd(s), &message, nativeFlags);
  if (r < 0) return Fail();
  FromNative(reinterpret_cast<sockaddr*>(&native), from, fromLength);
  // A datagram longer than the buffer is an error (10040) as on Windows,
  // not a silently shortened success. The kernel flags the cut in the
  // message itself (only datagrams can be cut), so no question about the
  // socket's type is needed per call.
  if (message.msg_flags & MSG_TRUNC) return FailWith(10040);
  return static_cast<int>(r);
}

// Only the read set is used by the layer; write and error sets are honoured
// too for completeness. The sets are rewritten to hold the ready handles.
int selectAdapter(int, DescriptorSet* readSet, DescriptorSet* writeSet, DescriptorSet* errorSet,
                  const WaitLimit* limit) {
  // At most 64 handles per set and three sets: room on the stack, so a
  // wait costs no allocation.
  pollfd fds[3 * 64];
  std::size_t used = 0;
  auto add = [&fds, &used](DescriptorSet* set, short events) {
    if (!set) return;
    for (std::uint32_t i = 0; i < set->count && i < 64; ++i) {
      fds[used++] = pollfd{Fd(set->handles[i]), events, 0};
    }
  };
  add(readSet, POLLIN);
  add(writeSet, POLLOUT);
  add(errorSet, POLLPRI);
  int timeout = -1;
  if (limit) {
    long long ms = static_cast<long long>(limit->seconds) * 1000 + limit->microseconds / 1000;
    if (ms < 0) return FailWith(10022);
    timeout = ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
  }
  int r;
  do {
    r = ::poll(fds, used, timeout);
  } while (r < 0 && errno == EINTR && timeout < 0);
  if (r < 0) return Fail();
  std::size_t at = 0;
  int ready = 0;
  auto collect = [&](DescriptorSet* set, short mask) {
    if (!set) return;
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < set->count && i < 64; ++i, ++at) {
      if (fds[at].revents & (mask | POLLERR | POLLHUP | POLLNVAL)) set->handles[kept++] = set->handles[i];
    }
    set->count = kept;
    ready += static_cast<int>(kept);
  };
  collect(readSet, POLLIN);
  collect(writeSet, POLLOUT);
  collect(errorSet, POLLPRI);
  return ready;
}

int sendAdapter(SocketHandle s, const char* buffer, int length, int) {
  if (length < 0) return FailWith(10014);
  // No SIGPIPE on a closed peer: the error comes back as a code instead.
  ssize_t r = ::send(Fd(s), buffer, static_cast<std::size_t>(length), MSG_NOSIGNAL);
  return r < 0 ? Fail() : static_cast<int>(r);
}

int sendtoAdapter(SocketHandle s, const char* buffer, int length, int, const SocketAddress* to,
                  int toLength) {
  if (length < 0) return FailWith(10014);
  sockaddr_storage native;
  socklen_t n = ToNative(to, toLength, native);
  ssize_t r = ::sendto(Fd(s), buffer, static_cast<std::size_t>(length), MSG_NOSIGNAL,
                       n ? reinterpret_cast<sockaddr*>(&native) : nullptr, n);
  return r < 0 ? Fail() : static_cast<int>(r);
}

int shutdownAdapter(SocketHandle s, int how) {
  int native = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
  return ::shutdown(Fd(s), native) == 0 ? 0 : Fail();
}

SocketHandle socketAdapter(int family, int type, int protocol) {
  int nf = NativeFamily(family);
  if (nf < 0 || nf == AF_UNSPEC) return FailWith(10047);
  int fd = ::socket(nf, type | SOCK_CLOEXEC, protocol);
  return fd < 0 ? Fail() : fd;
}

int gethostnameAdapter(char* name, int length) {
  if (!name || length <= 0) return FailWith(10014);
  if (::gethostname(name, static_cast<std::size_t>(length)) != 0) return Fail();
  name[length - 1] = '\0';
  return 0;
}

}  // namespace

// Resolver adapters live in SocketResolver_posix.cpp.
void FillPosixResolverEntries(SocketFunctionTable& table);

namespace detail {

socklen_t NativeAddress(const SocketAddress& in, sockaddr_storage& out) {
  return ToNative(&in, SocketAddressLength(in), out);
}

int SystemSocketError() { return lastError; }
void SetSystemSocketError(int code) { lastError = code; }

bool OpenMainLibrary(const std::string&, SocketFunctionTable& t) {
  // The C library is always there; the file name has no meaning here.
  t.closesocket = &closesocketAdapter;
  t.ioctlsocket = &ioctlsocketAdapter;
  t.WSAGetLastError = &WSAGetLastErrorAdapter;
  t.WSAStartup = &WSAStartupAdapter;
  t.WSACleanup = &WSACleanupAdapter;
  t.accept = &acceptAdapter;
  t.bind = &bindAdapter;
  t.connect = &connectAdapter;
  t.getpeername = &getpeernameAdapter;
  t.getsockname = &getsocknameAdapter;
  t.getsockopt = &getsockoptAdapter;
  t.inet_addr = &inet_addrAdapter;
  t.inet_ntoa = &inet_ntoaAdapter;
  t.listen = &listenAdapter;
  t.recv = &recvAdapter;
  t.recvfrom = &recvfromAdapter;
  t.select = &selectAdapter;
  t.send = &sendAdapter;
  t.sendto = &sendtoAdapter;
  t.setsockopt = &setsockoptAdapter;
  t.shutdown = &shutdownAdapter;
  t.socket = &socketAdapter;
  t.gethostname = &gethostnameAdapter;
  // Byte order: the portable helpers fill htons and friends.
  FillPosixResolverEntries(t);
  return true;
}

bool OpenAddOnLibrary(SocketFunctionTable&) { return false; }
bool AddOnResolverAlongsideMain() { return true; }
void CloseLibraries() {}

}  // namespace detail
}  // namespace tarnwick
