// Name and port resolution, binding, handle creation and queued options.
// Expectations that depend on which resolver the system offers are derived
// from the binding's flags and from the system's own answers.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "NetTestPeers.h"
#include "net/SocketError.h"
#include "net/UdpBlockSocket.h"

namespace tarnwick {
namespace {

std::string Text(TBlockSocket& s, const SocketAddress& a) { return s.AddressText(a); }

// Whether the system lists an IPv6 address among its loopback addresses.
bool LoopbackQueryListsIPv6() {
  AddressInfo hints{};
  hints.socketType = 2;
  hints.protocol = 17;
  AddressInfo* list = nullptr;
  if (SocketApi().getaddrinfo(nullptr, "69", &hints, &list) != 0) return false;
  bool found = false;
  for (AddressInfo* at = list; at; at = at->next) found = found || at->family == kFamilyIPv6;
  SocketApi().freeaddrinfo(list);
  return found;
}

TEST(Resolver, PassiveAnyAddressWithPort) {
  TUDPBlockSocket s;
  SocketAddress a;
  s.FillAddress(a, "0.0.0.0", "69");
  EXPECT_EQ(a.family, kFamilyIPv4) << "both families offered, IPv4 favoured";
  EXPECT_EQ(s.AddressPort(a), 69);
  EXPECT_EQ(Text(s, a), "0.0.0.0");
}

TEST(Resolver, LoopbackQueryHonoursFavourIPv4) {
  TUDPBlockSocket favour;
  SocketAddress a;
  favour.FillAddress(a, "127.0.0.1", "4000");
  EXPECT_EQ(a.family, kFamilyIPv4);
  EXPECT_EQ(Text(favour, a), "127.0.0.1");
  EXPECT_EQ(favour.AddressPort(a), 4000);

  TUDPBlockSocket prefer6;
  prefer6.FavourIPv4 = false;
  prefer6.FillAddress(a, "127.0.0.1", "4000");
  // Where the family is settled from the text first, the IPv4 literal
  // decides; otherwise the loopback query decides, and gives IPv6 when the
  // system lists an IPv6 loopback address.
  const bool expectSix = !ResolverInAddOnLibrary() && LoopbackQueryListsIPv6();
  EXPECT_EQ(a.family, expectSix ? kFamilyIPv6 : kFamilyIPv4);
  EXPECT_EQ(Text(prefer6, a), expectSix ? "::1" : "127.0.0.1");
}

TEST(Resolver, ExplicitFamiliesAndLiterals) {
  TUDPBlockSocket s;
  SocketAddress a;
  s.FillAddress(a, "192.0.2.7", "1234");
  EXPECT_EQ(a.family, kFamilyIPv4);
  EXPECT_EQ(Text(s, a), "192.0.2.7");
  EXPECT_EQ(s.AddressPort(a), 1234);
  EXPECT_EQ(SocketAddressLength(a), 16);

  TUDPBlockSocket six;
  six.SetAddressFamily(FamilyIPv6);
  EXPECT_EQ(six.DefaultAddressFamily, FamilyIPv6);
  six.FillAddress(a, "::1", "53");
  EXPECT_EQ(a.family, kFamilyIPv6);
  EXPECT_EQ(Text(six, a), "::1");
  EXPECT_EQ(SocketAddressLength(a), 28);
}

TEST(Resolver, SettledFamilyReturnsToDefaultAtClose) {
  TUDPBlockSocket s;
  SocketAddress a;
  s.FillAddress(a, "::1", "53");
  if (ResolverInAddOnLibrary()) {
    EXPECT_EQ(s.AddressFamily, FamilyIPv6) << "the literal settles the family";
  } else {
    EXPECT_EQ(s.AddressFamily, FamilyAny);
  }
  s.CloseEndpoint();
  EXPECT_EQ(s.AddressFamily, FamilyAny);
}

TEST(Resolver, UnknownNamesAndStatusTexts) {
  TUDPBlockSocket s;
  std::vector<std::string> texts;
  s.StatusHandler = [&](TBlockSocket&, SocketStatusReason r, const std::string& text) {
    if (r == StatusResolving || r == StatusResolved) texts.push_back(std::to_string(r) + " " + text);
  };
  SocketAddress a;
  a.family = 99;
  s.FillAddress(a, "no-such-host.invalid", "69");
  EXPECT_EQ(a.family, 0) << "an unresolvable name leaves an empty record";
  EXPECT_EQ(s.LastSocketError, 0) << "resolution failures show only in the next call";
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "0 no-such-host.invalid:69");
  EXPECT_EQ(texts[1], "1 no-such-host.invalid:69");

  std::vector<std::string> list{"stale"};
  s.LookupHost("no-such-host.invalid", list);
  EXPECT_EQ(list, std::vector<std::string>{"0.0.0.0"});
  EXPECT_EQ(s.LookupFirstAddress("no-such-host.invalid"), "0.0.0.0");
  s.LookupHost("127.0.0.1", list);
  EXPECT_EQ(list, std::vector<std::string>{"127.0.0.1"});
}

TEST(Resolver, PortsAndHostName) {
  TUDPBlockSocket s;
  EXPECT_EQ(s.LookupPort("69"), 69);
  EXPECT_EQ(s.LookupPort("65535"), 65535);
  EXPECT_EQ(s.LookupPort("0"), 0);
  EXPECT_EQ(s.LookupPort("no-such-service"), 0);
}

// Stand-ins for the system's host-name call: the name each one reports.
std::string reportedName;
int TARNWICK_SOCKAPI ReportName(char* name, int length) {
  std::snprintf(name, static_cast<std::size_t>(length), "%s", reportedName.c_str());
  return 0;
}

// The fallback to the loopback address hides an empty answer, so a plain
// "not empty" would always pass: compare with what the system itself says
// and drive each kind of answer through a stand-in.
TEST(Resolver, LocalHostNameIsTheSystemsNameOrLoopbackWhenEmpty) {
  TUDPBlockSocket s;
  auto& api = SocketApi();
  const auto system = api.gethostname;
  char own[256] = {};
  ASSERT_EQ(system(own, 254), 0);
  ASSERT_NE(own[0], '\0');
  EXPECT_EQ(s.LocalHostName(), std::string(own));

  const struct Row {
    std::string reported;
    std::string expected;
  } rows[] = {
      {"router-a", "router-a"},
      {"", "127.0.0.1"},
      {std::string(300, 'n'), std::string(253, 'n')},  // the call is given 254 bytes
  };
  api.gethostname = &ReportName;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.reported.size());
    reportedName = row.reported;
    EXPECT_EQ(s.LocalHostName(), row.expected);
  }
  api.gethostname = system;
}

TEST(Resolver, IPv6LiteralRecordAndText) {
  TUDPBlockSocket s;
  SocketAddress a;
  s.ParseIPv6Literal("::1", a);
  ASSERT_EQ(a.family, kFamilyIPv6);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(a.IPv6Bytes()[i], 0) << i;
  EXPECT_EQ(a.IPv6Bytes()[15], 1);
  EXPECT_EQ(s.IPv6AddressText(a), "::1");
  s.ParseIPv6Literal("not-a-literal", a);
  EXPECT_EQ(a.family, 0);
  SocketAddress empty;
  empty.Clear();
  EXPECT_EQ(s.AddressText(empty), "");
}

TEST(BindAndOpen, AnyAddressAnyPortOnFreshSocketDoesNothing) {
  TUDPBlockSocket s;
  int reports = 0;
  s.StatusHandler = [&](TBlockSocket&, SocketStatusReason, const std::string&) { ++reports; };
  s.BindTo("0.0.0.0", "0");
  EXPECT_EQ(s.Handle, kNoSocket);
  EXPECT_FALSE(s.IsBound);
  EXPECT_EQ(reports, 0);
  EXPECT_EQ(s.LastSocketError, 0);
}

TEST(BindAndOpen, BindCreatesHandleAndReadsPort) {
  TUDPBlockSocket s;
  std::vector<std::string> bound;
  int created = 0;
  s.StatusHandler = [&](TBlockSocket&, SocketStatusReason r, const std::string& text) {
    if (r == StatusBound) bound.push_back(text);
  };
  s.SocketCreatedHandler = [&](TBlockSocket&) { ++created; };
  s.BindTo("127.0.0.1", "0");
  EXPECT_EQ(s.LastSocketError, 0);
  EXPECT_NE(s.Handle, kNoSocket);
  EXPECT_TRUE(s.IsBound);
  EXPECT_NE(s.LocalPortNumber(), 0);
  EXPECT_EQ(s.LocalAddressText(), "127.0.0.1");
  EXPECT_EQ(bound, std::vector<std::string>{"127.0.0.1:0"});
  EXPECT_EQ(created, 1);

  // A second socket on the same port fails, and says so.
  TUDPBlockSocket clash;
  clash.BindTo("127.0.0.1", std::to_string(s.LocalPortNumber()));
  EXPECT_EQ(clash.LastSocketError, 10048);
  EXPECT_TRUE(clash.IsBound) << "set whether or not the system accepted it";
}

TEST(BindAndOpen, OpenOnOpenSocketOnlyClearsError) {
  TUDPBlockSocket s;
  s.BindTo("127.0.0.1", "0");
  const SocketHandle handle = s.Handle;
  s.LastSocketError = 123;
  s.PendingInput = "kept";
  SocketAddress other;
  s.FillAddress(other, "::1", "1");
  s.OpenForAddress(other);
  EXPECT_EQ(s.Handle, handle);
  EXPECT_EQ(s.LastSocketError, 0);
  EXPECT_EQ(s.PendingInput, "kept");
  EXPECT_FALSE(s.UsesIPv6);
}

TEST(BindAndOpen, QueuedOptionsApplyLastFirstAtCreation) {
  TUDPBlockSocket s;
  s.QueueOption(OptionReceiveBuffer, true, 8192);
  s.QueueOption(OptionReceiveBuffer, true, 32768);
  s.QueueOption(OptionBroadcast, true, 0);
  s.QueueOption(OptionNonBlocking, false, 0);
  s.ConnectTo("127.0.0.1", "9");
  ASSERT_NE(s.Handle, kNoSocket);
  EXPECT_TRUE(s.PendingOptions.empty());
  std::int32_t value = 0;
  int length = sizeof(value);
  ASSERT_EQ(SocketApi().getsockopt(s.Handle, 0xFFFF, 0x20, reinterpret_cast<char*>(&value), &length), 0);
  EXPECT_NE(value, 0) << "broadcast was switched on";
  length = sizeof(value);
  ASSERT_EQ(SocketApi().getsockopt(s.Handle, 0xFFFF, 0x1002, reinterpret_cast<char*>(&value), &length), 0);
  // The first queued size is applied last and wins (some systems double it).
  EXPECT_GE(value, 8192);
  EXPECT_LT(value, 32768);
  EXPECT_FALSE(s.NonBlocking);
  // Closing drops options queued for a handle that never came.
  s.QueueOption(OptionBroadcast, false, 0);
  s.CloseEndpoint();
  EXPECT_TRUE(s.PendingOptions.empty());
}

// The legacy IPv4 functions, reached by switching the resolver flags off
// for one test (as on a system whose library lacks the name functions).
class LegacyResolver : public ::testing::Test {
 protected:
  void SetUp() override {
    main_ = ResolverInMainLibrary();
    addOn_ = ResolverInAddOnLibrary();
    detail::OverrideResolverFlags(false, false);
  }
  void TearDown() override { detail::OverrideResolverFlags(main_, addOn_); }
  bool main_ = false, addOn_ = false;
};

TEST_F(LegacyResolver, LiteralsNamesAndPorts) {
  TUDPBlockSocket s;
  SocketAddress a;
  s.FillAddress(a, "192.0.2.9", "4000");
  EXPECT_EQ(a.family, kFamilyIPv4);
  EXPECT_EQ(s.AddressPort(a), 4000);
  EXPECT_EQ(s.AddressText(a), "192.0.2.9") << "the legacy text comes from inet_ntoa";

  s.FillAddress(a, "255.255.255.255", "69");
  EXPECT_EQ(s.AddressText(a), "255.255.255.255") << "taken literally, not as a failed lookup";

  s.FillAddress(a, "no-such-host.invalid", "x69");
  EXPECT_EQ(a.family, kFamilyIPv4);
  EXPECT_EQ(s.AddressText(a), "255.255.255.255") << "an unknown name leaves all ones";
  EXPECT_EQ(s.AddressPort(a), 0) << "a port that is neither a number nor a service";

  s.FillAddress(a, "localhost", "69");
  EXPECT_EQ(s.AddressText(a), "127.0.0.1");

  EXPECT_EQ(s.LookupPort("4000"), 4000);
  EXPECT_EQ(s.LookupPort("bogus-service"), 0);
  std::vector<std::string> list;
  s.LookupHost("10.1.2.3", list);
  EXPECT_EQ(list, std::vector<std::string>{"10.1.2.3"}) << "a dotted name is listed unchanged";
  s.LookupHost("localhost", list);
  EXPECT_EQ(list, std::vector<std::string>{"127.0.0.1"});
  s.LookupHost("no-such-host.invalid", list);
  EXPECT_EQ(list, std::vector<std::string>{"0.0.0.0"});
  SocketAddress six;
  s.ParseIPv6Literal("::1", six);
  EXPECT_EQ(six.family, 0) << "no IPv6 parsing without the name functions";
}

TEST_F(LegacyResolver, AddOnOnlySettlesTheFamilyFromTheText) {
  detail::OverrideResolverFlags(false, true);
  struct Row {
    const char* host;
    bool favourIPv4;
    AddressFamilyChoice family;
  } rows[] = {
      {"127.0.0.1", false, FamilyIPv4},
      {"::1", true, FamilyIPv6},
      {"localhost", true, FamilyIPv4},
      {"localhost", false, FamilyIPv6},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.host);
    TUDPBlockSocket s;
    s.FavourIPv4 = r.favourIPv4;
    SocketAddress a;
    s.FillAddress(a, r.host, "69");
    EXPECT_EQ(s.AddressFamily, r.family);
    if (r.family == FamilyIPv4) {
      EXPECT_EQ(a.family, kFamilyIPv4) << "IPv4 resolves the legacy way";
    }
  }
}

TEST(BindAndOpen, AttachHandleTakesOverASocket) {
  SocketFunctionTable& api = SocketApi();
  SocketAddress local = test::LoopbackAddress("127.0.0.1", 0);
  SocketHandle raw = api.socket(kFamilyIPv4, 2, 17);
  ASSERT_NE(raw, kNoSocket);
  ASSERT_EQ(api.bind(raw, &local, SocketAddressLength(local)), 0);
  TUDPBlockSocket s;
  s.AttachHandle(raw);
  EXPECT_EQ(s.Handle, raw);
  EXPECT_EQ(s.LocalAddressText(), "127.0.0.1");
  EXPECT_NE(s.LocalPortNumber(), 0);
  EXPECT_FALSE(s.UsesIPv6);
  // The attached handle serves the object's own waits and receives.
  test::LoopbackUdpPeer peer("127.0.0.1");
  peer.SendTo(s.LocalPortNumber(), "attached");
  EXPECT_EQ(s.ReceiveChunk(2000), "attached");
  EXPECT_EQ(s.RemotePortNumber(), peer.Port());
}

TEST(BindAndOpen, ShortBufferDatagramIsAnError) {
  TUDPBlockSocket s;
  s.BindTo("127.0.0.1", "0");
  test::LoopbackUdpPeer peer("127.0.0.1");
  peer.SendTo(s.LocalPortNumber(), "0123456789");
  ASSERT_TRUE(s.WaitReadable(2000));
  char small[4];
  EXPECT_EQ(s.ReceiveDataFrom(small, sizeof(small)), -1);
  EXPECT_EQ(s.LastSocketError, 10040) << "a cut datagram is not a success";
  EXPECT_EQ(s.LastSocketErrorText, "Message too long");
}

}  // namespace
}  // namespace tarnwick
