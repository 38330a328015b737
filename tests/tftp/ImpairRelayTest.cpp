// tarnwick-impair between two scripted UDP peers on 127.0.0.1: what passes
// unchanged, what a seed repeats, and how server ports map to the ports the
// client sees. Order, not the clock, shows a delay.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ImpairRelay.h"
#include "ScriptedPeer.h"

namespace tarnwick::testing_support {
namespace {

// Everything arriving at peer until it has been quiet for quietMs.
std::vector<std::string> Collect(ScriptedPeer& peer, int quietMs = 400) {
  std::vector<std::string> got;
  while (auto d = peer.Receive(quietMs)) got.push_back(*d);
  return got;
}

std::set<std::string> ArrivedThroughLossyRelay(const std::string& seed) {
  ScriptedPeer server, client;
  ImpairRelay relay(server.Port(), {"--c2s-loss", "0.5", "--seed", seed});
  EXPECT_EQ(relay.Unavailable(), "");
  for (int i = 0; i < 100; ++i) client.SendTo(relay.Port(), "n" + std::to_string(i));
  std::vector<std::string> got = Collect(server);
  return std::set<std::string>(got.begin(), got.end());
}

class ImpairRelayTest : public ::testing::Test {
 protected:
  void Start(const std::vector<std::string>& options) {
    relay.emplace(server.Port(), options);
    ASSERT_EQ(relay->Unavailable(), "");
  }
  ScriptedPeer server, client;
  std::optional<ImpairRelay> relay;
};

TEST_F(ImpairRelayTest, WithoutImpairmentsEveryDatagramPassesUnchangedBothWays) {
  Start({});
  std::vector<std::string> sent;
  for (std::size_t size : {0u, 1u, 4u, 516u, 1432u, 8196u, 65468u})
    sent.push_back(Pattern(size, unsigned(size)));
  for (const std::string& d : sent) client.SendTo(relay->Port(), d);
  EXPECT_EQ(Collect(server), sent);
  for (const std::string& d : sent) server.Reply(d);
  EXPECT_EQ(Collect(client), sent);
  // The peer answered from the port the request went to, so the client sees
  // the relay's own port.
  EXPECT_EQ(client.LastSenderPort(), relay->Port());
  const std::string stats = relay->Stop();
  EXPECT_NE(stats.find("c2s received 7 lost 0 duplicated 0 held 0 overflow 0 sent 7"), std::string::npos)
      << stats;
}

TEST_F(ImpairRelayTest, ServerPortsMapOneToOneToPortsTheClientSees) {
  Start({});
  ScriptedPeer transfer, stray;
  client.SendTo(relay->Port(), "request");
  ASSERT_EQ(server.Receive(), "request");
  const std::uint16_t upstream = server.LastSenderPort();

  // The transfer's port: a new port for the client, and replies to it reach
  // the server's transfer port from the same upstream socket.
  transfer.SendTo(upstream, "from-transfer");
  ASSERT_EQ(client.Receive(), "from-transfer");
  const std::uint16_t transferSeen = client.LastSenderPort();
  EXPECT_NE(transferSeen, relay->Port());
  client.Reply("ack");
  ASSERT_EQ(transfer.Receive(), "ack");
  EXPECT_EQ(transfer.LastSenderPort(), upstream);

  // A second answer from the same port comes from the same port; one from a
  // stray port comes from a port of its own.
  transfer.SendTo(upstream, "again");
  ASSERT_EQ(client.Receive(), "again");
  EXPECT_EQ(client.LastSenderPort(), transferSeen);
  stray.SendTo(upstream, "stray");
  ASSERT_EQ(client.Receive(), "stray");
  const std::uint16_t straySeen = client.LastSenderPort();
  EXPECT_NE(straySeen, transferSeen);
  EXPECT_NE(straySeen, relay->Port());
  client.Reply("error-to-stray");
  ASSERT_EQ(stray.Receive(), "error-to-stray");
  EXPECT_FALSE(transfer.Receive(200));

  // An answer from the well-known port itself comes from the relay's port.
  server.Reply("from-well-known");
  ASSERT_EQ(client.Receive(), "from-well-known");
  EXPECT_EQ(client.LastSenderPort(), relay->Port());
}

TEST_F(ImpairRelayTest, EachClientHasItsOwnUpstreamPort) {
  Start({});
  ScriptedPeer other;
  client.SendTo(relay->Port(), "a");
  ASSERT_EQ(server.Receive(), "a");
  const std::uint16_t first = server.LastSenderPort();
  other.SendTo(relay->Port(), "b");
  ASSERT_EQ(server.Receive(), "b");
  EXPECT_NE(server.LastSenderPort(), first);
  server.Reply("to-b");
  ASSERT_EQ(other.Receive(), "to-b");
  EXPECT_FALSE(client.Receive(200));
}

TEST(ImpairRelaySeed, SameSeedLosesTheSameDatagramsAnotherSeedOthers) {
  const std::set<std::string> first = ArrivedThroughLossyRelay("42");
  EXPECT_GT(first.size(), 20u);
  EXPECT_LT(first.size(), 80u);
  EXPECT_EQ(ArrivedThroughLossyRelay("42"), first);
  EXPECT_NE(ArrivedThroughLossyRelay("43"), first);
}

TEST_F(ImpairRelayTest, LossOneDeliversNothing) {
  Start({"--loss", "1"});
  for (int i = 0; i < 10; ++i) client.SendTo(relay->Port(), "x");
  EXPECT_TRUE(Collect(server, 300).empty());
  const std::string stats = relay->Stop();
  EXPECT_NE(stats.find("c2s received 10 lost 10"), std::string::npos) << stats;
}

TEST_F(ImpairRelayTest, DuplicationDeliversEveryDatagramTwice) {
  Start({"--s2c-dup", "1"});
  client.SendTo(relay->Port(), "request");
  ASSERT_EQ(Collect(server), std::vector<std::string>{"request"});
  for (int i = 0; i < 20; ++i) server.Reply("d" + std::to_string(i));
  std::vector<std::string> expected;
  for (int i = 0; i < 20; ++i) expected.insert(expected.end(), 2, "d" + std::to_string(i));
  EXPECT_EQ(Collect(client), expected);
}

TEST_F(ImpairRelayTest, ReorderingSwapsNeighbours) {
  Start({"--c2s-reorder", "1", "--hold-max", "5000"});
  for (int i = 0; i < 6; ++i) client.SendTo(relay->Port(), std::to_string(i));
  EXPECT_EQ(Collect(server), (std::vector<std::string>{"1", "0", "3", "2", "5", "4"}));
}

TEST_F(ImpairRelayTest, DelayedDatagramArrivesAfterOneSentLater) {
  Start({"--c2s-delay", "300"});
  client.SendTo(relay->Port(), "delayed");
  client.SendTo(server.Port(), "direct");
  EXPECT_EQ(Collect(server), (std::vector<std::string>{"direct", "delayed"}));
}

}  // namespace
}  // namespace tarnwick::testing_support
