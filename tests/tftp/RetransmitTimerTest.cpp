// Event sequences ("s100" sample, "b" time-out, "p" progress, "f3000" fixed
// wait, "q" a sender's quiet, "t3000" the peer's timer) and the wait each ends at (first wait 1 s, cap 8 s).
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tftp/RetransmitTimer.h"

namespace tarnwick::tftp {
namespace {

TEST(RetransmitTimer, SampleSequencesGiveTheseWaits) {
  std::string twentyFast, slowedDown;
  for (int i = 0; i < 20; ++i) twentyFast += "s2 ", slowedDown += "s300 ";
  const struct {
    std::string events;
    long waitMs;
  } rows[] = {
      {"", 1000},                      // no sample yet: the first wait
      {"s100", 300},                   // mean + 4 x half of it
      {"s100 s100", 250},              // the deviation shrinks
      {twentyFast, 5},                 // a steady fast path ends at the floor
      {twentyFast + slowedDown, 436},  // a slower path is followed from above
      {twentyFast + "b b b", 40},      // a short estimate doubles from the floor
      {twentyFast + "q b b b", 2000},  // a sender's third: quiet for twice the first wait
      {"s100 b b", 1200},              // time-outs in a row double
      {"s100 b b b b b", 8000},        // up to the cap
      {"s100 b p", 600},               // progress without a sample keeps it doubled
      {"s100 b p s100", 250},          // a new sample brings the estimate back
      {"b p", 1000},                   // before any sample progress restores the first wait
      {"s20000", 8000},                // a sample above the cap waits the cap
      {"f3000 s10", 3000},             // an agreed timeout is fixed
      {"f3000 b", 6000},               // and still backs off
      {"s100 t3000 q b b b", 6000},    // a known server timer: quiet for twice it
      {"t3000 s100", 300},             // samples still count
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.events);
    RetransmitTimer timer(std::chrono::milliseconds(1000), std::chrono::milliseconds(8000));
    std::istringstream events(row.events);
    for (std::string e; events >> e;) {
      const std::chrono::milliseconds ms(e.size() > 1 ? std::stol(e.substr(1)) : 0);
      if (e[0] == 's') timer.Sample(ms);
      if (e[0] == 'b') timer.BackOff();
      if (e[0] == 'p') timer.Progress();
      if (e[0] == 'f') timer.Fix(ms);
      if (e[0] == 'q') timer.QuietAfterRepeats();
      if (e[0] == 't') timer.PeerTimer(ms);
    }
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(timer.Wait()).count(), row.waitMs);
  }
}

}  // namespace
}  // namespace tarnwick::tftp
