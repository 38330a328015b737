// Sockets to listen on: systemd's, the --listen addresses, or both families
// with either allowed to be missing.
#include <gtest/gtest.h>

#include "serve/ListenPlan.h"

namespace tarnwick::serve {
namespace {

TEST(ListenPlan, ActivationListenAndDefaults) {
  std::string error;
  EXPECT_EQ(ActivatedSockets("42", "2", 42, error), (std::vector<int>{3, 4}));
  EXPECT_TRUE(ActivatedSockets("41", "2", 42, error).empty());  // meant for another process
  EXPECT_TRUE(ActivatedSockets(nullptr, "2", 42, error).empty());
  EXPECT_TRUE(error.empty());
  EXPECT_TRUE(ActivatedSockets("42", "99999999999999999999", 42, error).empty());
  EXPECT_NE(error.find("LISTEN_FDS"), std::string::npos);

  ListenPlan plan = PlanListening({}, 69, {});
  ASSERT_EQ(plan.sockets.size(), 2u);
  EXPECT_EQ(plan.sockets[0].address + plan.sockets[1].address, "0.0.0.0::");
  EXPECT_TRUE(plan.sockets[1].ipv6Only);
  EXPECT_FALSE(plan.sockets[0].required || plan.sockets[1].required);
  plan = PlanListening({"192.0.2.1", "::1"}, 1069, {});
  ASSERT_EQ(plan.sockets.size(), 2u);
  EXPECT_TRUE(plan.sockets[0].required && plan.sockets[1].required && plan.sockets[1].ipv6Only);
  EXPECT_FALSE(plan.sockets[0].ipv6Only);
  EXPECT_EQ(plan.sockets[1].port, 1069);
  plan = PlanListening({}, 69, {3});
  ASSERT_EQ(plan.sockets.size(), 1u);
  EXPECT_EQ(plan.sockets[0].inheritedFd, 3);
  EXPECT_FALSE(PlanListening({"::1"}, 69, {3}).error.empty());
}

}  // namespace
}  // namespace tarnwick::serve
