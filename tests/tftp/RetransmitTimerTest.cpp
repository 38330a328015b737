// The round-trip estimate as a pure unit: sequences of samples, time-outs
// and progress, each with the wait it must end at.
#include <gtest/gtest.h>

#include <vector>

#include "tftp/RetransmitTimer.h"

namespace tarnwick::tftp {
namespace {

using std::chrono::milliseconds;

enum class Step { Sample, BackOff, Progress, Fix };
struct Event {
  Step step;
  long ms = 0;
};

struct Row {
  const char* what;
  std::vector<Event> events;
  long waitMs;
};

TEST(RetransmitTimer, SampleSequencesGiveTheseWaits) {
  std::vector<Event> twentyFast;
  for (int i = 0; i < 20; ++i) twentyFast.push_back({Step::Sample, 2});
  std::vector<Event> slowedDown = twentyFast;
  for (int i = 0; i < 20; ++i) slowedDown.push_back({Step::Sample, 300});
  const Row rows[] = {
      {"no sample yet: the first wait", {}, 1000},
      {"first sample: mean + 4 x half of it", {{Step::Sample, 100}}, 300},
      {"second equal sample: the deviation shrinks", {{Step::Sample, 100}, {Step::Sample, 100}}, 250},
      {"a steady fast path ends at the floor", twentyFast, 5},
      {"a path that slowed down is followed above its new round trip", slowedDown, 436},
      {"time-outs in a row double", {{Step::Sample, 100}, {Step::BackOff}, {Step::BackOff}}, 1200},
      {"doubling stops at the cap",
       {{Step::Sample, 100},
        {Step::BackOff},
        {Step::BackOff},
        {Step::BackOff},
        {Step::BackOff},
        {Step::BackOff}},
       8000},
      {"progress without a new sample keeps the doubled wait",
       {{Step::Sample, 100}, {Step::BackOff}, {Step::Progress}},
       600},
      {"a new sample brings the estimate back",
       {{Step::Sample, 100}, {Step::BackOff}, {Step::Progress}, {Step::Sample, 100}},
       250},
      {"before any sample progress restores the first wait", {{Step::BackOff}, {Step::Progress}}, 1000},
      {"a sample above the cap waits the cap", {{Step::Sample, 20000}}, 8000},
      {"an agreed timeout is fixed", {{Step::Fix, 3000}, {Step::Sample, 10}}, 3000},
      {"an agreed timeout still backs off", {{Step::Fix, 3000}, {Step::BackOff}}, 6000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    RetransmitTimer timer(milliseconds(1000), milliseconds(8000));
    for (const Event& e : row.events) {
      switch (e.step) {
        case Step::Sample:
          timer.Sample(milliseconds(e.ms));
          break;
        case Step::BackOff:
          timer.BackOff();
          break;
        case Step::Progress:
          timer.Progress();
          break;
        case Step::Fix:
          timer.Fix(milliseconds(e.ms));
          break;
      }
    }
    EXPECT_EQ(std::chrono::duration_cast<milliseconds>(timer.Wait()).count(), row.waitMs);
  }
}

}  // namespace
}  // namespace tarnwick::tftp
