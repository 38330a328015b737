// The bandwidth limiter on its own: no limit, a due wait with its event,
// and a next tick that lies behind a wrap of the tick counter.
#include <gtest/gtest.h>

#include <stdexcept>
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

// Regression: a next tick left from a transfer 24.8 to 49.7 days ago reads
// as lying up to 24.8 days ahead, and the limiter slept that long. No wait
// is longer than the longest span the limiter itself schedules; the probe
// throws before such a sleep so that the fault shows as a failure at once.
TEST(Throttle, StaleTickAfterLongIdleDoesNotSleep) {
  ThrottleProbe s;
  s.StatusHandler = [&s](TBlockSocket&, SocketStatusReason r, const std::string& text) {
    if (r != StatusThrottled) return;
    s.waits.push_back(std::stoi(text));
    if (static_cast<std::uint32_t>(s.waits.back()) > kLongestThrottleWaitMs) throw std::runtime_error(text);
  };
  for (std::uint32_t ahead : {0x7FFFFFFFu, 0x7FFF0000u, kLongestThrottleWaitMs + 1000u}) {
    SCOPED_TRACE(ahead);
    std::uint32_t next = CurrentTick() + ahead;
    EXPECT_NO_THROW(s.ThrottleTransfer(1, 1000000, next));
  }
  EXPECT_TRUE(s.waits.empty());
}

// A transfer that would take longer than the longest wait at the limit
// schedules no more than that wait, so a tick further ahead is always stale.
TEST(Throttle, ScheduledSpanIsCapped) {
  ThrottleProbe s;
  for (int length : {2000, 0x7FFFFFFF}) {
    SCOPED_TRACE(length);
    std::uint32_t next = 0;
    const std::uint32_t before = CurrentTick();
    s.ThrottleTransfer(length, 1, next);  // 2000 s and 68 years at 1 byte/s
    EXPECT_LE(TickSpan(before, next), kLongestThrottleWaitMs + 1000u);
    EXPECT_GE(TickSpan(before, next), kLongestThrottleWaitMs);
  }
}

}  // namespace
}  // namespace tarnwick
