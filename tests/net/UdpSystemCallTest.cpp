// What the direct datagram path asks the system, and that answering from
// what is already known leaves every record and outcome as the system would
// have left it: the local address after each send, the empty peer of an
// unconnected socket (so a second send without a receive still fails), the
// peer of a handle attached from outside, and the wait before a receive.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "NetTestPeers.h"
#include "net/SocketError.h"
#include "net/UdpBlockSocket.h"

namespace tarnwick {
namespace {

using test::LoopbackUdpPeer;

struct CallCounts {
  int getsockname = 0;
  int getpeername = 0;
  int ioctlsocket = 0;
  int select = 0;
  int recvfrom = 0;
};

CallCounts g_counts;
SocketFunctionTable g_system;

int TARNWICK_SOCKAPI CountGetsockname(SocketHandle s, SocketAddress* a, int* l) {
  ++g_counts.getsockname;
  return g_system.getsockname(s, a, l);
}
int TARNWICK_SOCKAPI CountGetpeername(SocketHandle s, SocketAddress* a, int* l) {
  ++g_counts.getpeername;
  return g_system.getpeername(s, a, l);
}
int TARNWICK_SOCKAPI CountIoctl(SocketHandle s, std::int32_t c, std::uint32_t* a) {
  ++g_counts.ioctlsocket;
  return g_system.ioctlsocket(s, c, a);
}
int TARNWICK_SOCKAPI CountSelect(int n, DescriptorSet* r, DescriptorSet* w, DescriptorSet* e,
                                 const WaitLimit* l) {
  ++g_counts.select;
  return g_system.select(n, r, w, e, l);
}
int TARNWICK_SOCKAPI CountRecvfrom(SocketHandle s, char* b, int n, int f, SocketAddress* a, int* l) {
  ++g_counts.recvfrom;
  return g_system.recvfrom(s, b, n, f, a, l);
}

// Routes five entries of the process-wide table through counters for the
// life of the object. The loopback peers use the same table, so tests reset
// the counts right before the calls they measure.
class CountedCalls {
 public:
  CountedCalls() {
    g_system = SocketApi();
    g_counts = CallCounts{};
    SocketFunctionTable& api = SocketApi();
    api.getsockname = CountGetsockname;
    api.getpeername = CountGetpeername;
    api.ioctlsocket = CountIoctl;
    api.select = CountSelect;
    api.recvfrom = CountRecvfrom;
  }
  ~CountedCalls() {
    SocketFunctionTable& api = SocketApi();
    api.getsockname = g_system.getsockname;
    api.getpeername = g_system.getpeername;
    api.ioctlsocket = g_system.ioctlsocket;
    api.select = g_system.select;
    api.recvfrom = g_system.recvfrom;
  }
  CountedCalls(const CountedCalls&) = delete;
  CountedCalls& operator=(const CountedCalls&) = delete;
  void Reset() { g_counts = CallCounts{}; }
  const CallCounts& Counts() const { return g_counts; }
};

// The record the system holds for the handle right now, asked directly.
SocketAddress SystemLocalAddress(SocketHandle handle) {
  SocketAddress address;
  address.Clear();
  int length = sizeof(address);
  g_system.getsockname(handle, &address, &length);
  return address;
}

bool SameRecord(const SocketAddress& a, const SocketAddress& b) {
  return std::memcmp(&a, &b, sizeof(a)) == 0;
}

bool EmptyRecord(const SocketAddress& a) {
  SocketAddress empty;
  empty.Clear();
  return SameRecord(a, empty);
}

TEST(UdpSystemCalls, AddressesAfterEverySendMatchTheSystem) {
  CountedCalls calls;
  LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  udp.ConnectTo("127.0.0.1", peer.PortText());
  std::string got;
  // Each round: send, peer answers, receive. The first send binds the port.
  const int rounds = 5;
  int sockNameCalls = 0;
  for (int i = 0; i < rounds; ++i) {
    SCOPED_TRACE(i);
    calls.Reset();
    ASSERT_EQ(udp.SendText("round"), 5);
    sockNameCalls += calls.Counts().getsockname;
    EXPECT_EQ(calls.Counts().getpeername, 0) << "an unconnected socket of ours has no peer to ask for";
    EXPECT_TRUE(SameRecord(udp.LocalAddress, SystemLocalAddress(udp.Handle)));
    EXPECT_NE(udp.LocalPortNumber(), 0);
    EXPECT_TRUE(EmptyRecord(udp.RemoteAddress));
    ASSERT_TRUE(peer.Receive(got, 2000));
    EXPECT_EQ(peer.LastSenderPort(), udp.LocalPortNumber());
    peer.Reply("answer");
    EXPECT_EQ(udp.ReceiveChunk(2000), "answer");
    EXPECT_EQ(udp.RemotePortNumber(), peer.Port());
  }
  EXPECT_EQ(sockNameCalls, 1) << "the local address is asked once, after the send that binds it";
}

TEST(UdpSystemCalls, SecondSendWithoutReceiveFailsAtEveryRound) {
  // Whether the local address is still unknown (round 0) or already known,
  // a send leaves no peer behind.
  LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  std::string got;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    udp.ConnectTo("127.0.0.1", peer.PortText());
    ASSERT_EQ(udp.SendText("one"), 3);
    ASSERT_TRUE(peer.Receive(got, 2000));
    EXPECT_EQ(udp.SendText("two"), -1);
    EXPECT_NE(udp.LastSocketError, 0);
    EXPECT_EQ(udp.LastSocketErrorText, GetErrorDesc(udp.LastSocketError));
    EXPECT_FALSE(peer.Receive(got, 50));
  }
}

TEST(UdpSystemCalls, NewHandleAndCallerEditsAreAskedAgain) {
  CountedCalls calls;
  LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  std::string got;
  udp.ConnectTo("127.0.0.1", peer.PortText());
  ASSERT_EQ(udp.SendText("a"), 1);
  ASSERT_TRUE(peer.Receive(got, 2000));
  peer.Reply("b");
  ASSERT_EQ(udp.ReceiveChunk(2000), "b");

  // A caller scribbling on the public record gets the system's answer back.
  std::memset(&udp.LocalAddress, 0x5A, sizeof(udp.LocalAddress));
  ASSERT_EQ(udp.SendText("c"), 1);
  EXPECT_TRUE(SameRecord(udp.LocalAddress, SystemLocalAddress(udp.Handle)));
  ASSERT_TRUE(peer.Receive(got, 2000));

  // A fresh system socket has a port of its own, which must be read anew.
  udp.CloseEndpoint();
  udp.ConnectTo("127.0.0.1", peer.PortText());
  calls.Reset();
  ASSERT_EQ(udp.SendText("d"), 1);
  EXPECT_EQ(calls.Counts().getsockname, 1);
  EXPECT_TRUE(SameRecord(udp.LocalAddress, SystemLocalAddress(udp.Handle)));
  ASSERT_TRUE(peer.Receive(got, 2000));
  EXPECT_EQ(peer.LastSenderPort(), udp.LocalPortNumber());
  EXPECT_NE(udp.LocalPortNumber(), 0);
}

TEST(UdpSystemCalls, BoundSocketReportsItsBoundAddress) {
  CountedCalls calls;
  LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  udp.BindTo("127.0.0.1", "0");
  ASSERT_EQ(udp.LastSocketError, 0);
  const SocketAddress bound = udp.LocalAddress;
  ASSERT_NE(bound.port, 0);
  udp.ConnectTo("127.0.0.1", peer.PortText());
  calls.Reset();
  ASSERT_EQ(udp.SendText("x"), 1);
  EXPECT_EQ(calls.Counts().getsockname, 0) << "known since the bind";
  EXPECT_TRUE(SameRecord(udp.LocalAddress, bound));
  EXPECT_EQ(udp.LocalAddressText(), "127.0.0.1");
  std::string got;
  ASSERT_TRUE(peer.Receive(got, 2000));
  EXPECT_EQ(peer.LastSenderPort(), udp.LocalPortNumber());
}

TEST(UdpSystemCalls, AttachedConnectedHandleKeepsItsPeerAfterASend) {
  // A handle made elsewhere may be connected at system level: its peer must
  // come from the system after every send, not be assumed empty.
  CountedCalls calls;
  LoopbackUdpPeer peer("127.0.0.1");
  SocketFunctionTable& api = SocketApi();
  SocketAddress target = test::LoopbackAddress("127.0.0.1", peer.Port());
  SocketHandle handle = api.socket(target.family, 2, 17);
  ASSERT_NE(handle, kNoSocket);
  ASSERT_EQ(api.connect(handle, &target, SocketAddressLength(target)), 0);
  TUDPBlockSocket udp;
  udp.AttachHandle(handle);
  EXPECT_EQ(udp.RemotePortNumber(), peer.Port());
  calls.Reset();
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(udp.SendText("via attached"), 12);
    EXPECT_EQ(udp.RemotePortNumber(), peer.Port());
    EXPECT_EQ(udp.RemoteAddressText(), "127.0.0.1");
    EXPECT_TRUE(SameRecord(udp.LocalAddress, SystemLocalAddress(udp.Handle)));
  }
  EXPECT_EQ(calls.Counts().getpeername, 2);
  EXPECT_EQ(calls.Counts().getsockname, 2);
  std::string got;
  ASSERT_TRUE(peer.Receive(got, 2000));
  EXPECT_EQ(got, "via attached");
}

// A datagram already queued: the look at the waiting bytes is made only
// where it can be seen (a status handler) or where the call must not block.
TEST(UdpSystemCalls, WaitBeforeReceiveForQueuedDatagram) {
  struct Row {
    const char* name;
    bool handler;
    int timeout;
    int ioctl;   // looks at the waiting bytes
    int select;  // waits
    std::vector<SocketStatusReason> events;
  } rows[] = {
      {"no handler, blocking", false, 2000, 0, 1, {}},
      {"no handler, no limit", false, -1, 0, 1, {}},
      {"no handler, poll", false, 0, 1, 0, {}},
      {"handler, blocking", true, 2000, 1, 0, {StatusReceived}},
      {"handler, poll", true, 0, 1, 0, {StatusReceived}},
  };
  CountedCalls calls;
  LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  udp.ConnectTo("127.0.0.1", peer.PortText());
  ASSERT_EQ(udp.SendText("hello"), 5);
  std::string got;
  ASSERT_TRUE(peer.Receive(got, 2000));
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    peer.Reply(std::string("queued-") + r.name);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<SocketStatusReason> events;
    if (r.handler) {
      udp.StatusHandler = [&](TBlockSocket&, SocketStatusReason reason, const std::string&) {
        events.push_back(reason);
      };
    } else {
      udp.StatusHandler = nullptr;
    }
    calls.Reset();
    EXPECT_EQ(udp.ReceiveChunk(r.timeout), std::string("queued-") + r.name);
    EXPECT_EQ(udp.LastSocketError, 0);
    EXPECT_EQ(calls.Counts().ioctlsocket, r.ioctl);
    EXPECT_EQ(calls.Counts().select, r.select);
    EXPECT_EQ(calls.Counts().recvfrom, 1);
    EXPECT_EQ(events, r.events);
    udp.StatusHandler = nullptr;
  }
}

TEST(UdpSystemCalls, DatagramArrivingDuringTheWaitIsReportedReadableThenReceived) {
  LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket udp;
  udp.ConnectTo("127.0.0.1", peer.PortText());
  ASSERT_EQ(udp.SendText("hello"), 5);
  std::string got;
  ASSERT_TRUE(peer.Receive(got, 2000));
  std::vector<SocketStatusReason> events;
  udp.StatusHandler = [&](TBlockSocket&, SocketStatusReason reason, const std::string&) {
    events.push_back(reason);
  };
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    peer.Reply("late");
  });
  EXPECT_EQ(udp.ReceiveChunk(3000), "late");
  later.join();
  EXPECT_EQ(events, (std::vector<SocketStatusReason>{StatusReadable, StatusReceived}));
  udp.StatusHandler = nullptr;
}

}  // namespace
}  // namespace tarnwick
