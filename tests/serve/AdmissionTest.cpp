// Admission on a scripted clock: the allow list over both families, the
// duplicate rule, the per-source rate, the transfer limits; and the
// address ranges they are built from.
#include <gtest/gtest.h>

#include <cstring>

#include "TestAddress.h"
#include "serve/Admission.h"

namespace tarnwick::serve {
namespace {

TEST(AddressRange, ParsesAndMatchesBothFamilies) {
  struct Row {
    const char* range;
    SocketAddress inside, outside;
  } rows[] = {
      {"192.0.2.0/24", Addr("192.0.2.9"), Addr("2001:db8::9")},
      {"192.0.2.7", Addr("::ffff:192.0.2.7"), Addr("192.0.2.8")},
      {"192.0.2.129/25", Addr("192.0.2.200"), Addr("192.0.2.127")},
      {"0.0.0.0/0", Addr("::ffff:10.0.0.1"), Addr("::1")},
      {"fe80::/10", Addr("febf::1"), Addr("fec0::1")},
  };
  for (const Row& row : rows) {
    auto range = ParseAddressRange(row.range);
    ASSERT_TRUE(range) << row.range;
    EXPECT_TRUE(range->Contains(AddressKey(row.inside))) << row.range;
    EXPECT_FALSE(range->Contains(AddressKey(row.outside))) << row.range;
  }
  for (const char* bad :
       {"192.0.2.0/33", "192.0.2.01", "256.0.0.1", "1:2:3:4:5:6:7:8:9", "1::2::3", "fe80::1%eth0"})
    EXPECT_FALSE(ParseAddressRange(bad)) << bad;
}

TEST(Admission, ScriptedRequests) {
  // allow, max transfers, per client, requests per second, burst, buckets kept
  const AdmissionLimits limits{
      {*ParseAddressRange("192.0.2.0/28"), *ParseAddressRange("2001:db8::/32")}, 4, 2, 2, 3, 2};
  Admission admission(limits);
  struct Step {
    std::uint64_t ms;
    SocketAddress from;
    bool finish;  // a transfer of `from` ends instead
    Admit verdict;
  } steps[] = {
      {0, Addr("192.0.2.1", 1000), false, Admit::Start},
      {1, Addr("192.0.2.1", 1000), false, Admit::Duplicate},  // re-sent request: its own transfer
      {2, Addr("::ffff:192.0.2.1", 1000), false, Admit::Duplicate},
      {3, Addr("192.0.2.1", 1001), false, Admit::Start},
      {4, Addr("192.0.2.1", 1002), false, Admit::ClientBusy},  // third token spent
      {5, Addr("192.0.2.1", 1003), false, Admit::RateLimited},
      {506, Addr("192.0.2.1", 1000), true, Admit::Start},
      {1006, Addr("192.0.2.1", 1003), false, Admit::Start},
      {1007, Addr("192.0.2.99"), false, Admit::NotAllowed},
      {1008, Addr("2001:db8::5", 7), false, Admit::Start},
      {1009, Addr("2001:db8::6", 7), false, Admit::Start},  // third source: the idlest bucket goes
      {1010, Addr("192.0.2.2", 5), false, Admit::Busy},
      {1011, Addr("192.0.2.1", 1001), true, Admit::Start},
      {1012, Addr("192.0.2.2", 5), false, Admit::Start},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.ms);
    if (step.finish) {
      admission.Finished(step.from);
      continue;
    }
    EXPECT_EQ(admission.Consider(step.from, step.ms), step.verdict);
    EXPECT_LE(admission.TrackedSources(), limits.trackedSources);
  }
  EXPECT_EQ(admission.Running(), 4u);
  EXPECT_TRUE(AnswerFor(Admit::Busy).answer && !AnswerFor(Admit::RateLimited).answer);
}

}  // namespace
}  // namespace tarnwick::serve
