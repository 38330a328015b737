// The binding: reference counting, resolver flags, descriptor sets, address
// lengths and the behaviour of entries the library does not export.
#include <gtest/gtest.h>

#include "NetTestPeers.h"
#include "net/SocketError.h"
#include "net/UdpBlockSocket.h"

namespace tarnwick {
namespace {

TEST(Binding, AddressLengthsAndDescriptorSets) {
  SocketAddress a;
  a.Clear();
  EXPECT_EQ(SocketAddressLength(a), 0);
  a.family = kFamilyIPv4;
  EXPECT_EQ(SocketAddressLength(a), 16);
  a.family = kFamilyIPv6;
  EXPECT_EQ(SocketAddressLength(a), 28);
  a.family = 10;  // a native family number is not a record family
  EXPECT_EQ(SocketAddressLength(a), 0);

  DescriptorSet set;
  set.count = 17;
  DescriptorSetClear(set);
  EXPECT_EQ(set.count, 0u);
  for (SocketHandle h = 100; h < 164; ++h) DescriptorSetAdd(h, set);
  ASSERT_EQ(set.count, 64u);
  EXPECT_EQ(set.handles[0], 100);
  EXPECT_EQ(set.handles[63], 163);
  DescriptorSetAdd(999, set);
  EXPECT_EQ(set.count, 64u) << "a full set stays unchanged";
  EXPECT_EQ(set.handles[63], 163);
}

TEST(Binding, LoadsCountAndKeepFlags) {
  ASSERT_EQ(SocketLibraryRefs(), 1) << "the test environment's start-up load";
  const bool main = ResolverInMainLibrary();
  const bool addOn = ResolverInAddOnLibrary();
  EXPECT_TRUE(main || addOn) << "this system offers the protocol-independent resolver";
  EXPECT_TRUE(LoadSocketLibrary(""));
  EXPECT_EQ(SocketLibraryRefs(), 2);
  EXPECT_EQ(ResolverInMainLibrary(), main);
  EXPECT_EQ(ResolverInAddOnLibrary(), addOn);
  EXPECT_TRUE(UnloadSocketLibrary());
  EXPECT_EQ(SocketLibraryRefs(), 1);
  // Still bound: sockets work.
  test::LoopbackUdpPeer peer("127.0.0.1");
  EXPECT_TRUE(peer.Valid());
}

TEST(Binding, LastUnloadDisarmsTheTableAndExtraUnloadsAreHarmless) {
  StopSocketLayer();
  EXPECT_EQ(SocketLibraryRefs(), 0);
  EXPECT_TRUE(UnloadSocketLibrary());
  EXPECT_EQ(SocketLibraryRefs(), 0) << "never below zero";
  // Calls after the last unload fail instead of jumping into a freed library.
  EXPECT_EQ(SocketApi().socket(kFamilyIPv4, 2, 17), kNoSocket);
  EXPECT_EQ(SocketLastError(), kMissingEntryError);
  TUDPBlockSocket s;
  s.ConnectTo("127.0.0.1", "69");
  EXPECT_EQ(s.Handle, kNoSocket);
  EXPECT_EQ(s.LastSocketError, kMissingEntryError);
  EXPECT_EQ(s.LastSocketErrorText, "Operation not supported on Socket");
  StartSocketLayer();
  EXPECT_EQ(SocketLibraryRefs(), 1);
  test::LoopbackUdpPeer peer("127.0.0.1");
  EXPECT_TRUE(peer.Valid()) << "bound again after a fresh start";
}

// Replaces table entries for the length of one test.
class MissingEntries : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = SocketApi(); }
  void TearDown() override { SocketApi() = saved_; }
  SocketFunctionTable saved_;
};

TEST_F(MissingEntries, CallsFailWithASocketErrorNotACrash) {
  SocketFunctionTable& api = SocketApi();
  api.sendto = nullptr;
  api.ntohs = nullptr;
  api.getnameinfo = nullptr;
  detail::FillMissingEntries(api);

  test::LoopbackUdpPeer peer("127.0.0.1");
  TUDPBlockSocket s;
  s.ConnectTo("127.0.0.1", peer.PortText());
  ASSERT_EQ(s.LastSocketError, 0);
  EXPECT_EQ(s.SendText("x"), -1);
  EXPECT_EQ(s.LastSocketError, kMissingEntryError);
  EXPECT_EQ(s.RemoteAddressText(), "") << "no getnameinfo: no text, no crash";
  // The byte-order entry is computed locally instead.
  SocketAddress a = test::LoopbackAddress("127.0.0.1", 0x1234);
  EXPECT_EQ(s.AddressPort(a), 0x1234);
  // A datagram arrives, but the receive entry is missing.
  s.RemoteAddress = test::LoopbackAddress("127.0.0.1", peer.Port());
  api.sendto = saved_.sendto;
  ASSERT_EQ(s.SendText("y"), 1);
  std::string got;
  ASSERT_TRUE(peer.Receive(got, 2000));
  peer.Reply("z");
  api.recvfrom = nullptr;
  detail::FillMissingEntries(api);
  EXPECT_EQ(s.ReceiveChunk(1000), "");
  EXPECT_EQ(s.LastSocketError, kMissingEntryError);
}

TEST_F(MissingEntries, ResolverEntriesFailAsResolutionFailures) {
  SocketFunctionTable& api = SocketApi();
  api.getaddrinfo = nullptr;
  detail::FillMissingEntries(api);
  TUDPBlockSocket s;
  SocketAddress a;
  s.FillAddress(a, "127.0.0.1", "69");
  EXPECT_EQ(a.family, 0);
  std::vector<std::string> list;
  s.LookupHost("127.0.0.1", list);
  EXPECT_EQ(list, std::vector<std::string>{"0.0.0.0"});
  EXPECT_EQ(s.LookupPort("69"), 0);
}

}  // namespace
}  // namespace tarnwick
