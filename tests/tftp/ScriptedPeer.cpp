#include "ScriptedPeer.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SockLen = int;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using SockLen = socklen_t;
#endif

#include <cstring>
#include <stdexcept>

namespace tarnwick::testing_support {

namespace {

#ifdef _WIN32
using Native = SOCKET;
struct WinsockUser {
  WinsockUser() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockUser() { WSACleanup(); }
};
void CloseNative(Native s) { closesocket(s); }
bool WaitReadable(Native s, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return select(0, &set, nullptr, nullptr, &tv) > 0;
}
#else
using Native = int;
void CloseNative(Native s) { ::close(s); }
bool WaitReadable(Native s, int timeoutMs) {
  pollfd p{s, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) > 0;
}
#endif

Native N(std::intptr_t s) { return static_cast<Native>(s); }

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

sockaddr_in6 Loopback6(std::uint16_t port) {
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = htons(port);
  a.sin6_addr = in6addr_loopback;
  return a;
}

// The loopback address of the family with port, as a generic record.
SockLen LoopbackOf(bool ipv6, std::uint16_t port, sockaddr_storage& out) {
  std::memset(&out, 0, sizeof out);
  if (ipv6) {
    sockaddr_in6 a = Loopback6(port);
    std::memcpy(&out, &a, sizeof a);
    return sizeof a;
  }
  sockaddr_in a = Loopback(port);
  std::memcpy(&out, &a, sizeof a);
  return sizeof a;
}

}  // namespace

ScriptedPeer::ScriptedPeer() : ScriptedPeer(false) {}

ScriptedPeer::ScriptedPeer(bool ipv6) : ipv6_(ipv6) {
#ifdef _WIN32
  static WinsockUser winsock;
#endif
  Native s = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_storage a;
  SockLen len = LoopbackOf(ipv6, 0, a);
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), len) != 0) throw std::runtime_error("peer bind failed");
  len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ipv6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port)
               : ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
  socket_ = static_cast<std::intptr_t>(s);
}

ScriptedPeer::~ScriptedPeer() { CloseNative(N(socket_)); }

std::optional<std::string> ScriptedPeer::Receive(int timeoutMs) {
  if (!WaitReadable(N(socket_), timeoutMs)) return std::nullopt;
  char buffer[70000];
  sockaddr_storage from{};
  SockLen len = sizeof from;
  int n = static_cast<int>(
      ::recvfrom(N(socket_), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len));
  if (n < 0) return std::nullopt;
  lastSenderPort_ = ipv6_ ? ntohs(reinterpret_cast<sockaddr_in6*>(&from)->sin6_port)
                          : ntohs(reinterpret_cast<sockaddr_in*>(&from)->sin_port);
  return std::string(buffer, static_cast<std::size_t>(n));
}

void ScriptedPeer::Reply(const std::string& bytes) { SendTo(lastSenderPort_, bytes); }

void ScriptedPeer::SendTo(std::uint16_t port, const std::string& bytes) {
  sockaddr_storage to;
  const SockLen len = LoopbackOf(ipv6_, port, to);
  ::sendto(N(socket_), bytes.data(), static_cast<int>(bytes.size()), 0, reinterpret_cast<sockaddr*>(&to),
           len);
}

std::string Data(std::uint16_t block, const std::string& bytes) {
  std::string p{0, 3, static_cast<char>(block >> 8), static_cast<char>(block & 0xff)};
  return p + bytes;
}

std::string Ack(std::uint16_t block) {
  return std::string{0, 4, static_cast<char>(block >> 8), static_cast<char>(block & 0xff)};
}

std::string Error(std::uint16_t code, const std::string& textWithTerminator) {
  std::string p{0, 5, static_cast<char>(code >> 8), static_cast<char>(code & 0xff)};
  return p + textWithTerminator;
}

std::string Pattern(std::size_t size, unsigned seed) {
  std::string s(size, '\0');
  unsigned x = seed * 2654435761u + 1;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return s;
}

}  // namespace tarnwick::testing_support
