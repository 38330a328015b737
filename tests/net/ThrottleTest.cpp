// The bandwidth limiter on its own: no limit, a due wait with its event,
// and a next tick that lies behind a wrap of the tick counter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/BlockSocket.h"
#include "net/NetUtil.h"

namespace tarnwick {
namespace {

class ThrottleProbe : public TBlockSocket {
 public:
  ThrottleProbe() {
    StatusHandler = [this](TBlockSocket&, SocketStatusReason r, const std::string& text) {
      if (r == StatusThrottled) waits.push_back(std::stoi(text));
    };
  }
  ~ThrottleProbe() override { StatusHandler = nullptr; }
  std::vector<int> waits;
};

TEST(Throttle, NoLimitNeverWaitsNorMovesTheTick) {
  ThrottleProbe s;
  for (std::int32_t limit : {0, -1, -1000}) {
    SCOPED_TRACE(limit);
    std::uint32_t next = CurrentTick() + 100000;
    const std::uint32_t before = next;
    s.ThrottleTransfer(1000, limit, next);
    EXPECT_EQ(next, before);
    EXPECT_TRUE(s.waits.empty());
  }
}

TEST(Throttle, NextTickFollowsLengthOverRate) {
  ThrottleProbe s;
  std::uint32_t next = 0;
  const std::uint32_t before = CurrentTick();
  s.ThrottleTransfer(250, 1000, next);  // a quarter of a second's worth
  const std::uint32_t after = CurrentTick();
  EXPECT_TRUE(s.waits.empty());
  EXPECT_GE(TickSpan(before, next), 250u);
  EXPECT_LE(TickSpan(after, next), 250u);
}

TEST(Throttle, DueWaitIsAnnouncedThenSlept) {
  ThrottleProbe s;
  std::uint32_t next = CurrentTick() + 150;
  const std::uint32_t before = CurrentTick();
  s.ThrottleTransfer(1, 1000000, next);
  const std::uint32_t spent = TickSpan(before, CurrentTick());
  ASSERT_EQ(s.waits.size(), 1u);
  EXPECT_GT(s.waits[0], 100);
  EXPECT_LE(s.waits[0], 150);
  EXPECT_GE(spent + 15, static_cast<std::uint32_t>(s.waits[0]));
}

// Regression: a next tick taken just before the counter wrapped compares
// "greater" than the wrapped current tick; read as an unsigned difference
// it would put the transfer to sleep for weeks.
TEST(Throttle, TickWrapDoesNotWaitForWeeks) {
  ThrottleProbe s;
  std::uint32_t next = CurrentTick() + 0x90000000u;  // far behind, seen across the wrap
  const std::uint32_t before = CurrentTick();
  s.ThrottleTransfer(1, 1000000, next);
  EXPECT_TRUE(s.waits.empty());
  EXPECT_LT(TickSpan(before, CurrentTick()), 1000u);
}

}  // namespace
}  // namespace tarnwick
