// The impairment relay's pure parts: the generator, the per-datagram
// decisions, the delay/reorder pipeline, the route table and the command
// line. Time is a number the tests choose; nothing sleeps.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "Endpoint.h"
#include "ImpairOptions.h"
#include "Impairment.h"
#include "RelayRoutes.h"

namespace tarnwick::impair {
namespace {

Endpoint At(const std::string& text) {
  Endpoint e;
  EXPECT_TRUE(ParseEndpoint(text, e)) << text;
  return e;
}

Datagram Numbered(int n) { return Datagram{1, At("127.0.0.1:9"), std::to_string(n)}; }

// Everything PopDue hands out at nowMs, as the datagrams' text.
std::vector<std::string> Drain(Impairer& impairer, std::uint64_t nowMs) {
  std::vector<std::string> out;
  while (auto d = impairer.PopDue(nowMs)) out.push_back(d->bytes);
  return out;
}

std::set<int> LostIndices(DirectionSettings settings, std::uint64_t seed, int count) {
  Rng rng(seed);
  std::set<int> lost;
  for (int i = 0; i < count; ++i)
    if (Decide(settings, rng).lost) lost.insert(i);
  return lost;
}

TEST(ImpairRng, SameSeedSameSequenceAndUnitStaysInRange) {
  Rng a(7), b(7), c(8);
  bool differs = false;
  for (int i = 0; i < 1000; ++i) {
    const std::uint64_t x = a.Next();
    EXPECT_EQ(x, b.Next());
    differs |= x != c.Next();
    const double u = a.Unit();
    b.Unit();
    c.Unit();
    EXPECT_GE(u, 0.0);
    EXPECT_LT(u, 1.0);
  }
  EXPECT_TRUE(differs);
  EXPECT_EQ(Rng(1).Below(0), 0u);
}

TEST(ImpairDecide, RatesAtTheEndsAndInBetween) {
  struct Row {
    double loss;
    std::size_t minLost, maxLost;
  } rows[] = {{0.0, 0, 0}, {1.0, 10000, 10000}, {0.05, 400, 600}, {0.3, 2700, 3300}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.loss);
    DirectionSettings s;
    s.loss = row.loss;
    const std::size_t lost = LostIndices(s, 99, 10000).size();
    EXPECT_GE(lost, row.minLost);
    EXPECT_LE(lost, row.maxLost);
  }
}

TEST(ImpairDecide, LossPatternRepeatsForASeedAndIgnoresOtherRates) {
  DirectionSettings s;
  s.loss = 0.2;
  const std::set<int> first = LostIndices(s, 42, 500);
  EXPECT_EQ(first, LostIndices(s, 42, 500));
  EXPECT_NE(first, LostIndices(s, 43, 500));
  // Each datagram draws the same numbers whatever is enabled, so turning on
  // duplication or jitter keeps the loss pattern of the seed.
  s.duplicate = 0.5;
  s.reorder = 0.5;
  s.jitterMs = 30;
  EXPECT_EQ(first, LostIndices(s, 42, 500));
}

TEST(ImpairDecide, JitterStaysWithinItsBound) {
  DirectionSettings s;
  s.delayMs = 10;
  s.jitterMs = 5;
  Rng rng(3);
  std::set<std::uint32_t> seen;
  for (int i = 0; i < 2000; ++i) seen.insert(Decide(s, rng).delayMs);
  EXPECT_EQ(seen, (std::set<std::uint32_t>{10, 11, 12, 13, 14, 15}));
}

TEST(Impairer, WithoutImpairmentsPassesEverythingInOrderAtOnce) {
  Impairer impairer(DirectionSettings{}, 1, 100);
  for (int i = 0; i < 5; ++i) impairer.Submit(Numbered(i), 1000);
  EXPECT_EQ(impairer.NextDue(), std::optional<std::uint64_t>(1000));
  EXPECT_EQ(Drain(impairer, 1000), (std::vector<std::string>{"0", "1", "2", "3", "4"}));
  EXPECT_FALSE(impairer.NextDue());
  EXPECT_EQ(impairer.Stats().sent, 5u);
}

TEST(Impairer, DelayHoldsUntilDueAndKeepsOrder) {
  DirectionSettings s;
  s.delayMs = 50;
  Impairer impairer(s, 1, 100);
  impairer.Submit(Numbered(1), 1000);
  impairer.Submit(Numbered(2), 1010);
  EXPECT_TRUE(Drain(impairer, 1049).empty());
  EXPECT_EQ(impairer.NextDue(), std::optional<std::uint64_t>(1050));
  EXPECT_EQ(Drain(impairer, 1050), std::vector<std::string>{"1"});
  EXPECT_EQ(Drain(impairer, 1060), std::vector<std::string>{"2"});
}

TEST(Impairer, DuplicationSendsEachDatagramTwice) {
  DirectionSettings s;
  s.duplicate = 1.0;
  Impairer impairer(s, 1, 100);
  impairer.Submit(Numbered(1), 0);
  impairer.Submit(Numbered(2), 0);
  EXPECT_EQ(Drain(impairer, 0), (std::vector<std::string>{"1", "1", "2", "2"}));
  EXPECT_EQ(impairer.Stats().duplicated, 2u);
}

TEST(Impairer, ReorderingSwapsNeighboursOrLetsDepthOvertake) {
  struct Row {
    std::uint32_t depth;
    std::vector<std::string> expected;
  } rows[] = {{1, {"1", "0", "3", "2", "5", "4"}}, {2, {"1", "2", "0", "4", "5", "3"}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.depth);
    DirectionSettings s;
    s.reorder = 1.0;
    s.reorderDepth = row.depth;
    s.holdMaxMs = 1000;
    Impairer impairer(s, 1, 100);
    std::vector<std::string> out;
    for (int i = 0; i < 6; ++i) {
      impairer.Submit(Numbered(i), 0);
      for (auto& d : Drain(impairer, 0)) out.push_back(d);
    }
    EXPECT_EQ(out, row.expected);
  }
}

TEST(Impairer, HeldDatagramGoesAfterHoldMaxWhenNothingFollows) {
  DirectionSettings s;
  s.reorder = 1.0;
  s.holdMaxMs = 200;
  Impairer impairer(s, 1, 100);
  impairer.Submit(Numbered(7), 1000);
  EXPECT_TRUE(Drain(impairer, 1199).empty());
  EXPECT_EQ(impairer.NextDue(), std::optional<std::uint64_t>(1200));
  EXPECT_EQ(Drain(impairer, 1200), std::vector<std::string>{"7"});
}

TEST(Impairer, QueueIsBoundedAndCountsOverflow) {
  DirectionSettings s;
  s.delayMs = 10;
  Impairer impairer(s, 1, 3);
  for (int i = 0; i < 10; ++i) impairer.Submit(Numbered(i), 0);
  EXPECT_EQ(impairer.Queued(), 3u);
  EXPECT_EQ(impairer.Stats().overflow, 7u);
  EXPECT_EQ(Drain(impairer, 10), (std::vector<std::string>{"0", "1", "2"}));
}

TEST(Impairer, LossOneDropsEverything) {
  DirectionSettings s;
  s.loss = 1.0;
  Impairer impairer(s, 5, 10);
  for (int i = 0; i < 20; ++i) impairer.Submit(Numbered(i), 0);
  EXPECT_TRUE(Drain(impairer, 100000).empty());
  EXPECT_EQ(impairer.Stats().lost, 20u);
}

class Routes : public ::testing::Test {
 protected:
  Endpoint server = At("127.0.0.1:69");
  Endpoint client = At("127.0.0.1:40000");
  RelayRoutes routes{server, 6};
};

TEST_F(Routes, EachServerPortGetsItsOwnClientFacingSocket) {
  auto request = routes.FromClient(kListenSocket, client, 0);
  ASSERT_TRUE(request);
  EXPECT_TRUE(request->opened);
  EXPECT_EQ(request->to, server);
  const SocketId upstream = request->via;

  auto first = routes.FromServer(upstream, At("127.0.0.1:50001"), 1);
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->opened);
  EXPECT_EQ(first->to, client);
  auto again = routes.FromServer(upstream, At("127.0.0.1:50001"), 2);
  ASSERT_TRUE(again);
  EXPECT_FALSE(again->opened);
  EXPECT_EQ(again->via, first->via);
  auto stray = routes.FromServer(upstream, At("127.0.0.1:50002"), 3);
  ASSERT_TRUE(stray);
  EXPECT_TRUE(stray->opened);
  EXPECT_NE(stray->via, first->via);
  EXPECT_NE(stray->via, kListenSocket);

  // The client's answer to each port reaches that server port, through the
  // client's one upstream socket.
  auto reply = routes.FromClient(first->via, client, 4);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->via, upstream);
  EXPECT_FALSE(reply->opened);
  EXPECT_EQ(reply->to, At("127.0.0.1:50001"));
  reply = routes.FromClient(stray->via, client, 5);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->to, At("127.0.0.1:50002"));
}

TEST_F(Routes, AnswerFromTheWellKnownPortComesBackThroughTheListeningSocket) {
  auto request = routes.FromClient(kListenSocket, client, 0);
  ASSERT_TRUE(request);
  auto answer = routes.FromServer(request->via, server, 1);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->via, kListenSocket);
  EXPECT_FALSE(answer->opened);
}

TEST_F(Routes, AStrayClientIsAStrangerToTheServerToo) {
  auto request = routes.FromClient(kListenSocket, client, 0);
  auto answer = routes.FromServer(request->via, At("127.0.0.1:50001"), 1);
  auto other = routes.FromClient(answer->via, At("127.0.0.1:40001"), 2);
  ASSERT_TRUE(other);
  EXPECT_TRUE(other->opened);
  EXPECT_NE(other->via, request->via);
  EXPECT_EQ(other->to, At("127.0.0.1:50001"));
}

TEST_F(Routes, UnknownSocketsAndAFullTableForwardNothing) {
  EXPECT_FALSE(routes.FromClient(99, client, 0));
  EXPECT_FALSE(routes.FromServer(99, server, 0));
  for (std::uint16_t port = 40000; port < 40006; ++port) {
    Endpoint c = client;
    c.port = port;
    EXPECT_TRUE(routes.FromClient(kListenSocket, c, 0));
  }
  Endpoint seventh = client;
  seventh.port = 40006;
  EXPECT_FALSE(routes.FromClient(kListenSocket, seventh, 0));
  EXPECT_EQ(routes.Sockets(), 6u);
}

TEST_F(Routes, IdleSocketsExpireWithTheirClientFacingOnes) {
  auto request = routes.FromClient(kListenSocket, client, 0);
  auto answer = routes.FromServer(request->via, At("127.0.0.1:50001"), 0);
  auto busy = routes.FromClient(kListenSocket, At("127.0.0.1:40001"), 900);
  EXPECT_TRUE(routes.Expire(500, 1000).empty());
  std::vector<SocketId> gone = routes.Expire(1000, 1000);
  EXPECT_EQ(std::set<SocketId>(gone.begin(), gone.end()), (std::set<SocketId>{request->via, answer->via}));
  EXPECT_EQ(routes.Sockets(), 1u);
  EXPECT_FALSE(routes.FromClient(answer->via, client, 1001));
  EXPECT_TRUE(busy);
}

TEST(ImpairEndpoint, ParsesAndPrintsBothFamilies) {
  struct Row {
    const char* text;
    bool ok;
    const char* printed;
  } rows[] = {
      {"127.0.0.1:69", true, "127.0.0.1:69"},
      {"[::1]:6969", true, "[0:0:0:0:0:0:0:1]:6969"},
      {"[2001:db8::7:0]:0", true, "[2001:db8:0:0:0:0:7:0]:0"},
      {"127.0.0.1", false, ""},
      {"127.0.0.256:1", false, ""},
      {"127.0.0.1:65536", false, ""},
      {"::1:69", false, ""},
      {"[::1::2]:1", false, ""},
      {"[::1]", false, ""},
      {"1.2.3:4", false, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    Endpoint e;
    ASSERT_EQ(ParseEndpoint(row.text, e), row.ok);
    if (row.ok) {
      EXPECT_EQ(EndpointText(e), row.printed);
    }
  }
}

TEST(ImpairOptions, BothDirectionsOrOneByPrefix) {
  RelayOptions o;
  ASSERT_EQ(ParseRelayOptions({"--server", "127.0.0.1:6969", "--loss", "0.05", "--s2c-dup", "0.3",
                               "--c2s-delay", "2", "--seed", "9", "--queue-cap", "64"},
                              o),
            "");
  EXPECT_EQ(o.server.port, 6969);
  EXPECT_EQ(EndpointText(o.listen), "127.0.0.1:0");
  EXPECT_EQ(o.toServer.loss, 0.05);
  EXPECT_EQ(o.toClient.loss, 0.05);
  EXPECT_EQ(o.toServer.duplicate, 0.0);
  EXPECT_EQ(o.toClient.duplicate, 0.3);
  EXPECT_EQ(o.toServer.delayMs, 2u);
  EXPECT_EQ(o.toClient.delayMs, 0u);
  EXPECT_EQ(o.seed, 9u);
  EXPECT_EQ(o.queueCapacity, 64u);
  EXPECT_NE(DirectionSeed(9, true), DirectionSeed(9, false));

  ASSERT_EQ(ParseRelayOptions({"--server", "[::1]:69"}, o), "");
  EXPECT_EQ(o.listen.family, 6);
}

TEST(ImpairOptions, RejectsWhatItCannotUse) {
  const std::vector<std::vector<std::string>> rows = {
      {},
      {"--server", "127.0.0.1:0"},
      {"--server", "127.0.0.1:69", "--loss", "1.5"},
      {"--server", "127.0.0.1:69", "--loss", "-0.1"},
      {"--server", "127.0.0.1:69", "--loss", "x"},
      {"--server", "127.0.0.1:69", "--delay", "-1"},
      {"--server", "127.0.0.1:69", "--reorder-depth", "0"},
      {"--server", "127.0.0.1:69", "--x2y-loss", "0.1"},
      {"--server", "127.0.0.1:69", "--queue-cap", "0"},
      {"--server", "127.0.0.1:69", "--seed"},
      {"--server", "127.0.0.1:69", "stray"},
  };
  for (const auto& args : rows) {
    RelayOptions o;
    EXPECT_NE(ParseRelayOptions(args, o), "") << ::testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace tarnwick::impair
