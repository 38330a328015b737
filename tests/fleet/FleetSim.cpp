// tarnwick-fleet-sim: many virtual TFTP devices in one process, for the
// backup tests and benchmark. Each device listens on its own loopback
// address (127.0.1.1, 127.0.1.2, ... Linux routes all of 127/8 to lo) and a
// port the kernel picks, and behaves as its row of the table says:
//
//   name behaviour size version expected-request-name
//
// behaviour: good, badpass (ERROR 2), notfound (ERROR 1), silent, slow
// (every window 20 ms late), lossy (drops every 5th datagram it would send
// and every 7th it receives), stray (a DATA from another port right after
// the first real answer; the client must answer it with ERROR 5), empty (a
// 0-byte file), errorpage (an HTML error page instead of the file), truncated
// (announces the whole size as tsize, sends half), endless (never a short
// block), trickle (every window 300 ms late), changing (the next version on
// every request, the first one included), stamped (its first line a
// "! Last configuration change" stamp that differs in every run of the
// simulator, the rest as good), flaky (silent to its first request, good from the second on). A
// request for another name than
// expected gets ERROR 1. Reads served with a new socket per transfer, lock
// step 512 or the blksize/windowsize asked for, one thread, one epoll set.
//
// Prints "device NAME ADDRESS PORT" per row, then "ready". On SIGTERM or
// SIGINT it writes "NAME requests done stray-error5" per device to the file
// given with --stats and exits 0.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <list>
#include <sstream>
#include <string>
#include <vector>

#include "SimContent.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using tarnwick::fleet_sim::FillContent;
using tarnwick::fleet_sim::NameSeed;

volatile sig_atomic_t g_stop = 0;
extern "C" void OnSignal(int) { g_stop = 1; }

enum class Behaviour {
  Good,
  BadPass,
  NotFound,
  Silent,
  Slow,
  Lossy,
  Stray,
  Empty,
  ErrorPage,
  Truncated,
  Endless,
  Trickle,
  Changing,
  Stamped,
  Flaky
};

const std::string kErrorPage =
    "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1></body></html>\n";

struct Device {
  std::string name, expected;
  Behaviour behaviour = Behaviour::Good;
  std::uint64_t size = 0, seed = 0;
  std::uint32_t version = 1;
  sockaddr_in address{};
  int listener = -1;
  unsigned sent = 0, received = 0;  // for the lossy pattern
  unsigned requests = 0, done = 0, strayError5 = 0;
};

struct Transfer {
  Device* device = nullptr;
  int sock = -1, stray = -1;
  sockaddr_in client{};
  std::uint32_t blockSize = 512, window = 1;
  std::uint64_t base = 1, last = 0, blocks = 1;  // 64-bit block indexes from 1
  bool oackPending = false;
  std::string oack;
  Clock::time_point deadline, sendAt;
  bool sendDue = false;
  int timeouts = 0;
  bool finished = false;
};

bool ParseBehaviour(const std::string& s, Behaviour& b) {
  static const std::pair<const char*, Behaviour> table[] = {
      {"good", Behaviour::Good},           {"badpass", Behaviour::BadPass},
      {"notfound", Behaviour::NotFound},   {"silent", Behaviour::Silent},
      {"slow", Behaviour::Slow},           {"lossy", Behaviour::Lossy},
      {"stray", Behaviour::Stray},         {"huge", Behaviour::Good},
      {"empty", Behaviour::Empty},         {"errorpage", Behaviour::ErrorPage},
      {"truncated", Behaviour::Truncated}, {"endless", Behaviour::Endless},
      {"trickle", Behaviour::Trickle},     {"changing", Behaviour::Changing},
      {"stamped", Behaviour::Stamped},     {"flaky", Behaviour::Flaky}};
  for (auto& [text, value] : table)
    if (s == text) return b = value, true;
  return false;
}

int BoundSocket(const sockaddr_in& address) {
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in a = address;
  a.sin_port = 0;
  if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::perror("fleet-sim: bind");
    std::exit(3);
  }
  return s;
}

void SendTo(Device& d, int sock, const sockaddr_in& to, const std::string& bytes, bool mayDrop = true) {
  if (mayDrop && d.behaviour == Behaviour::Lossy && ++d.sent % 5 == 0) return;
  ::sendto(sock, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

std::string ErrorPacket(int code, const std::string& text) {
  std::string p = {0, 5, 0, static_cast<char>(code)};
  return p + text + '\0';
}

// The bytes the device really sends (its tsize is always d.size).
std::uint64_t ServedSize(const Device& d) {
  switch (d.behaviour) {
    case Behaviour::Empty:
      return 0;
    case Behaviour::ErrorPage:
      return kErrorPage.size();
    case Behaviour::Truncated:
      return d.size / 2;
    case Behaviour::Endless:
      return UINT64_MAX / 4;
    default:
      return d.size;
  }
}

std::string DataPacket(const Transfer& t, std::uint64_t k) {
  const std::uint64_t size = ServedSize(*t.device);
  std::uint64_t offset = (k - 1) * t.blockSize;
  std::uint64_t n = offset >= size ? 0 : std::min<std::uint64_t>(t.blockSize, size - offset);
  std::string p(4 + n, '\0');
  p[1] = 3;
  p[2] = static_cast<char>((k >> 8) & 0xff);
  p[3] = static_cast<char>(k & 0xff);
  if (t.device->behaviour == Behaviour::ErrorPage)
    kErrorPage.copy(p.data() + 4, n, offset);
  else
    FillContent(t.device->seed, t.device->version, offset, p.data() + 4, n);
  if (t.device->behaviour == Behaviour::Stamped && offset < 64) {
    const std::string stamp = tarnwick::fleet_sim::StampLine(static_cast<unsigned>(::getpid()));
    stamp.copy(p.data() + 4, std::min<std::uint64_t>(n, stamp.size() - offset), offset);
  }
  return p;
}

void SendWindow(Transfer& t, Clock::time_point now) {
  const Behaviour b = t.device->behaviour;
  if ((b == Behaviour::Slow || b == Behaviour::Trickle) && !t.sendDue) {
    t.sendDue = true;
    t.sendAt = now + (b == Behaviour::Slow ? 20ms : 300ms);
    return;
  }
  t.sendDue = false;
  if (t.oackPending) {
    SendTo(*t.device, t.sock, t.client, t.oack);
  } else {
    t.last = std::min(t.blocks, t.base + t.window - 1);
    for (std::uint64_t k = t.base; k <= t.last; ++k) SendTo(*t.device, t.sock, t.client, DataPacket(t, k));
  }
  t.deadline = now + 400ms;
}

// Splits "name\0mode\0opt\0val\0..." into strings; false when malformed.
bool SplitRequest(const char* p, std::size_t n, std::vector<std::string>& out) {
  std::size_t i = 2;
  while (i < n) {
    const void* end = std::memchr(p + i, 0, n - i);
    if (!end) return false;
    std::size_t len = static_cast<const char*>(end) - (p + i);
    out.emplace_back(p + i, len);
    i += len + 1;
  }
  return out.size() >= 2 && out.size() % 2 == 0;
}

void OnRequest(Device& d, const char* p, std::size_t n, const sockaddr_in& from,
               std::list<Transfer>& transfers, Clock::time_point now) {
  std::vector<std::string> parts;
  if (n < 4 || p[1] != 1 || !SplitRequest(p, n, parts)) return;
  ++d.requests;
  if (d.behaviour == Behaviour::Silent || (d.behaviour == Behaviour::Flaky && d.requests == 1)) return;
  if (d.behaviour == Behaviour::Changing) ++d.version;
  int sock = BoundSocket(d.address);
  auto refuse = [&](int code, const std::string& text) {
    ::sendto(sock, ErrorPacket(code, text).data(), ErrorPacket(code, text).size(), 0,
             reinterpret_cast<const sockaddr*>(&from), sizeof from);
    ::close(sock);
  };
  // Devices echo the requested name back; the client must not show it.
  if (d.behaviour == Behaviour::BadPass) return refuse(2, "Access violation: wrong password in " + parts[0]);
  if (d.behaviour == Behaviour::NotFound || parts[0] != d.expected)
    return refuse(1, "File not found: " + parts[0]);

  Transfer t;
  t.device = &d;
  t.sock = sock;
  t.client = from;
  std::string oack = {0, 6};
  for (std::size_t i = 2; i + 1 < parts.size(); i += 2) {
    std::string name = parts[i];
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    unsigned long value = std::strtoul(parts[i + 1].c_str(), nullptr, 10);
    if (name == "blksize" && value >= 8) {
      t.blockSize = static_cast<std::uint32_t>(std::min(value, 65464ul));
      oack += "blksize" + std::string(1, '\0') + std::to_string(t.blockSize) + '\0';
    } else if (name == "windowsize" && value >= 1) {
      t.window = static_cast<std::uint32_t>(std::min(value, 65535ul));
      oack += "windowsize" + std::string(1, '\0') + std::to_string(t.window) + '\0';
    } else if (name == "tsize" && d.behaviour != Behaviour::Endless) {  // it cannot know
      const std::uint64_t announced = d.behaviour == Behaviour::Truncated ? d.size : ServedSize(d);
      oack += "tsize" + std::string(1, '\0') + std::to_string(announced) + '\0';
    }
  }
  t.blocks = ServedSize(d) / t.blockSize + 1;
  t.oackPending = oack.size() > 2;
  t.oack = oack;
  transfers.push_back(t);
  SendWindow(transfers.back(), now);
  if (d.behaviour == Behaviour::Stray) {
    // Right behind the first real answer, a datagram from another port of
    // the device: the client knows its peer by then and must turn it away.
    Transfer& added = transfers.back();
    added.stray = BoundSocket(d.address);
    std::string data = DataPacket(added, 1);
    ::sendto(added.stray, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
  }
}

void OnTransferDatagram(Transfer& t, const char* p, std::size_t n, const sockaddr_in& from,
                        Clock::time_point now) {
  Device& d = *t.device;
  if (from.sin_port != t.client.sin_port || from.sin_addr.s_addr != t.client.sin_addr.s_addr) return;
  if (d.behaviour == Behaviour::Lossy && ++d.received % 7 == 0) return;
  if (n >= 2 && p[1] == 5) {  // the client gave up
    t.finished = true;
    return;
  }
  if (n < 4 || p[1] != 4) return;
  std::uint16_t b =
      static_cast<std::uint16_t>((static_cast<unsigned char>(p[2]) << 8) | static_cast<unsigned char>(p[3]));
  if (t.oackPending) {
    if (b != 0) return;
    t.oackPending = false;
    t.timeouts = 0;
    return SendWindow(t, now);
  }
  for (std::uint64_t k = t.last; k + 1 >= t.base && k >= 1; --k) {
    if ((k & 0xffff) != b) continue;
    if (k == t.blocks) {
      t.finished = true;
      ++d.done;
      return;
    }
    if (k >= t.base) {
      t.base = k + 1;
      t.timeouts = 0;
      SendWindow(t, now);
    }
    return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string tablePath, statsPath;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--stats" && i + 1 < argc)
      statsPath = argv[++i];
    else
      tablePath = a;
  }
  std::ifstream table(tablePath);
  if (!table) {
    std::cerr << "usage: tarnwick-fleet-sim TABLE [--stats FILE]\n";
    return 2;
  }
  std::vector<Device> devices;
  std::string line;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream in(line);
    Device d;
    std::string behaviour;
    if (!(in >> d.name >> behaviour >> d.size >> d.version >> d.expected) ||
        !ParseBehaviour(behaviour, d.behaviour)) {
      std::cerr << "fleet-sim: bad table line: " << line << '\n';
      return 2;
    }
    d.seed = NameSeed(d.name);
    devices.push_back(d);
  }
  for (std::size_t i = 0; i < devices.size(); ++i) {
    Device& d = devices[i];
    d.address.sin_family = AF_INET;
    d.address.sin_addr.s_addr =
        htonl((127u << 24) | ((1u + static_cast<unsigned>(i / 250)) << 8) | (1u + i % 250));
    d.listener = BoundSocket(d.address);
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ::getsockname(d.listener, reinterpret_cast<sockaddr*>(&bound), &len);
    d.address.sin_port = bound.sin_port;
    char text[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &d.address.sin_addr, text, sizeof text);
    std::cout << "device " << d.name << ' ' << text << ' ' << ntohs(bound.sin_port) << '\n';
  }
  std::cout << "ready" << std::endl;

  struct sigaction action {};
  action.sa_handler = OnSignal;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);

  // One epoll set: a poll over a thousand listeners for every datagram made
  // the simulator, not the clients, the bound of the benchmark. An event's
  // tag is the listener's index (low bits 0) or the transfer's address with
  // 1 for its socket, 2 for its stray socket.
  const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
  auto watch = [epoll](int sock, std::uint64_t tag) {
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.u64 = tag;
    if (::epoll_ctl(epoll, EPOLL_CTL_ADD, sock, &e) != 0) {
      std::perror("fleet-sim: epoll_ctl");
      std::exit(3);
    }
  };
  for (std::size_t i = 0; i < devices.size(); ++i) watch(devices[i].listener, std::uint64_t{i} << 2);
  std::list<Transfer> transfers;
  std::vector<epoll_event> events(256);
  std::vector<char> buffer(65536 + 8);
  while (!g_stop) {
    auto now = Clock::now();
    auto next = now + 200ms;
    for (Transfer& t : transfers) next = std::min(next, t.sendDue ? t.sendAt : t.deadline);
    int waitMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count());
    const int ready =
        ::epoll_wait(epoll, events.data(), static_cast<int>(events.size()), std::max(waitMs, 0));
    if (ready < 0 && errno != EINTR) return 3;
    now = Clock::now();
    for (int e = 0; e < ready; ++e) {
      const std::uint64_t tag = events[e].data.u64;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      if ((tag & 3) == 0) {
        Device& d = devices[tag >> 2];
        ssize_t n =
            ::recvfrom(d.listener, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        const std::size_t before = transfers.size();
        if (n > 0) OnRequest(d, buffer.data(), static_cast<std::size_t>(n), from, transfers, now);
        if (transfers.size() > before) {
          Transfer& added = transfers.back();
          watch(added.sock, reinterpret_cast<std::uintptr_t>(&added) | 1);
          if (added.stray >= 0) watch(added.stray, reinterpret_cast<std::uintptr_t>(&added) | 2);
        }
        continue;
      }
      // Transfers are removed only after the whole batch, so the address holds.
      Transfer& t = *reinterpret_cast<Transfer*>(static_cast<std::uintptr_t>(tag & ~std::uint64_t{3}));
      if ((tag & 3) == 1) {
        ssize_t n =
            ::recvfrom(t.sock, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n > 0) OnTransferDatagram(t, buffer.data(), static_cast<std::size_t>(n), from, now);
      } else {
        ssize_t n =
            ::recvfrom(t.stray, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n >= 4 && buffer[1] == 5 && buffer[3] == 5) ++t.device->strayError5;
      }
    }
    for (auto t = transfers.begin(); t != transfers.end();) {
      if (!t->finished && t->sendDue && now >= t->sendAt) SendWindow(*t, now);
      if (!t->finished && !t->sendDue && now >= t->deadline) {
        if (++t->timeouts > 8)
          t->finished = true;
        else
          SendWindow(*t, now);
      }
      // A stray socket stays until the transfer ends, to hear the ERROR 5.
      // Closing a socket takes it out of the epoll set.
      if (t->finished) {
        ::close(t->sock);
        if (t->stray >= 0) ::close(t->stray);
        t = transfers.erase(t);
      } else {
        ++t;
      }
    }
  }
  ::close(epoll);
  if (!statsPath.empty()) {
    std::ofstream stats(statsPath);
    for (const Device& d : devices)
      stats << d.name << ' ' << d.requests << ' ' << d.done << ' ' << d.strayError5 << '\n';
  }
  return 0;
}
