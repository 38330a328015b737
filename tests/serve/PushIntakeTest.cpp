// Which WRQs serve --archive takes, and the spool names that carry a push's
// facts through a crash.
#include <gtest/gtest.h>

#include "TestAddress.h"
#include "serve/PushIntake.h"
#include "serve/PushSpool.h"

namespace tarnwick::serve {
namespace {

TEST(PushIntake, OnlyAnInventoryDeviceItsOwnNameOneAtATime) {
  int arrived = 0;
  PushIntake intake([&] { ++arrived; }, [] { return std::int64_t{1796700000123}; });
  intake.Use({{"core-sw01", "core-sw01.cfg", {AddressKey(Addr("192.0.2.10"))}},
              {"edge-rt02", "edge-*.conf", {AddressKey(Addr("192.0.2.20"))}},
              {"stack-a", "stack-*.cfg", {AddressKey(Addr("192.0.2.30"))}},
              {"stack-b", "stack-b*.cfg", {AddressKey(Addr("192.0.2.30"))}},
              {"v6-sw", "v6.cfg", {AddressKey(Addr("2001:db8::7"))}}});
  const struct {
    const char* from;
    const char* name;
    const char* refusal;  // empty: taken
    const char* device;
  } rows[] = {
      {"198.51.100.1", "core-sw01.cfg", "no inventory device may push from 198.51.100.1", ""},
      {"192.0.2.10", "edge-1.conf", "not a name this address may push (core-sw01: core-sw01.cfg)", ""},
      {"192.0.2.10", "../core-sw01.cfg", "..", ""},
      {"192.0.2.10", "core-sw01.cfg\x1b[2J", "control", ""},
      {"192.0.2.30", "stack-b1.cfg", "fits stack-a and stack-b", ""},
      {"192.0.2.10", "/core-sw01.cfg", "", "core-sw01"},
      {"192.0.2.10", "core-sw01.cfg", "core-sw01 is already pushing", ""},
      {"192.0.2.20", "\\edge-7.conf", "", "edge-rt02"},
      {"2001:db8::7", "v6.cfg", "", "v6-sw"},
  };
  std::vector<std::string> taken;
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.from) + " " + row.name);
    std::string stored;
    const Refusal refusal = intake.Open(Addr(row.from), row.name, stored);
    if (*row.refusal) {
      EXPECT_EQ(refusal.code, kErrorAccess);
      EXPECT_NE(refusal.reason.find(row.refusal), std::string::npos) << refusal.reason;
      continue;
    }
    ASSERT_FALSE(refusal.Refused()) << refusal.reason;
    const std::optional<SpoolEntry> entry = ParseSpoolEntry(stored);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->device, row.device);
    EXPECT_EQ(entry->from, row.from);
    EXPECT_EQ(entry->unixMs, 1796700000123);
    taken.push_back(stored);
  }
  // A cut-off upload frees its device without waking the archiver; a
  // published one wakes it.
  intake.Closed(taken[0], false);
  EXPECT_EQ(arrived, 0);
  std::string again;
  ASSERT_FALSE(intake.Open(Addr("192.0.2.10"), "core-sw01.cfg", again).Refused());
  intake.Closed(again, true);
  intake.Closed(again, true);  // once only
  EXPECT_EQ(arrived, 1);
}

TEST(PushSpool, NamesCarryTheirFactsAndSortByArrival) {
  const std::string a = SpoolEntryName(1796700000123, 7, "2001:db8::7", "sw@lab 1");
  const std::optional<SpoolEntry> e = ParseSpoolEntry(a);
  ASSERT_TRUE(e);
  EXPECT_EQ(a.find(':'), std::string::npos);  // a Windows name
  EXPECT_EQ(e->from, "2001:db8::7");
  EXPECT_EQ(e->device, "sw@lab 1");
  EXPECT_LT(SpoolEntryName(999, 999999, "x", "z"), SpoolEntryName(1000, 0, "x", "a"));
  for (const char* stranger : {".tarnwick-up-12", "0000000000999-000001@@sw", "12-1@a@sw", "notes.txt",
                               "0000000000999-000001@a@"})
    EXPECT_FALSE(ParseSpoolEntry(stranger)) << stranger;
}

}  // namespace
}  // namespace tarnwick::serve
