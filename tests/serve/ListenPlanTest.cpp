// Sockets to listen on: systemd's, the --listen addresses, or both families
// with either allowed to be missing.
#include <gtest/gtest.h>

#include "serve/ListenPlan.h"

namespace tarnwick::serve {
namespace {

TEST(ListenPlan, ActivationListenAndDefaults) {
  std::string error;
  EXPECT_EQ(ActivatedSockets("42", "2", 42, error), (std::vector<int>{3, 4}));
  EXPECT_TRUE(ActivatedSockets("41", "2", 42, error).empty() && error.empty());  // another process's
  EXPECT_TRUE(ActivatedSockets("42", "99999999999999999999", 42, error).empty() && !error.empty());
  const auto shown = [](const ListenPlan& plan) {
    std::string text = plan.error;
    for (const ListenSocket& s : plan.sockets)
      text += s.address + "/" + std::to_string(s.port) + (s.ipv6Only ? " v6only" : "") +
              (s.required ? " required" : "") +
              (s.inheritedFd >= 0 ? " fd" + std::to_string(s.inheritedFd) : "") + ";";
    return text;
  };
  EXPECT_EQ(shown(PlanListening({}, 69, {})), "0.0.0.0/69;::/69 v6only;");
  EXPECT_EQ(shown(PlanListening({"192.0.2.1", "::1"}, 1069, {})),
            "192.0.2.1/1069 required;::1/1069 v6only required;");
  EXPECT_EQ(shown(PlanListening({}, 69, {3})), "/0 required fd3;");
  EXPECT_NE(shown(PlanListening({"::1"}, 69, {3})).find("systemd"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::serve
