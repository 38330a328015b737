// Stack scan: the six call forms, their boundaries, and the walk over the
// stack slots with the raise address first.
#include <gtest/gtest.h>

#include <cstring>

#include "crash/StackScan.h"

namespace tarnwick {
namespace {

constexpr std::uint32_t kBegin = 0x401000;

// A code range of 256 bytes filled with NOPs, with `bytes` placed so that
// they end right before `value`.
struct FakeCode {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(256, 0x90);
  CodeRange Range() const { return {kBegin, kBegin + 255, bytes.data()}; }
  void Place(std::uint32_t value, const std::vector<std::uint8_t>& before) {
    std::memcpy(bytes.data() + (value - kBegin) - before.size(), before.data(), before.size());
  }
};

std::vector<std::uint8_t> Le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 24)};
}

std::vector<std::uint8_t> Cat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(CallFormTest, RecognisesEachForm) {
  const std::uint32_t v = kBegin + 0x80;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> before;
    int length;
  } cases[] = {
      {"call eax", {0xFF, 0xD0}, 2},
      {"call [eax+8]", {0xFF, 0x50, 0x08}, 3},
      {"call [esp+ebx+8]", {0xFF, 0x54, 0x1C, 0x08}, 4},
      {"call rel32 backward", Cat({0xE8}, Le32(static_cast<std::uint32_t>(-0x40))), 5},
      {"call rel32 forward to end", Cat({0xE8}, Le32(kBegin + 255 - v)), 5},
      {"call [abs32] into code", Cat({0xFF, 0x15}, Le32(kBegin + 0x10)), 6},
      {"call [esp+disp32]", Cat({0xFF, 0x94, 0x24}, Le32(0x1234)), 7},
      {"call [eax+disp32] outside the code", Cat({0xFF, 0x90}, Le32(0x1234)), 0},
      {"jmp eax is no call", {0xFF, 0xE0}, 0},
      {"push [eax] is no call", {0xFF, 0x30}, 0},
      {"call rel32 leaving the code", Cat({0xE8}, Le32(0x1000)), 0},
      {"call rel32 just past the end", Cat({0xE8}, Le32(kBegin + 256 - v)), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeCode code;
    code.Place(v, c.before);
    EXPECT_EQ(CallFormLength(code.Range(), v), c.length);
  }
}

TEST(CallFormTest, ShorterFormsWinAndSixByteNeedsCodeTarget) {
  FakeCode code;
  const std::uint32_t v = kBegin + 0x80;
  // call [abs32] pointing outside the code: the 6-byte form fails, but the
  // 7-byte test then sees FF at v-7 only if placed there; it is not.
  code.Place(v, Cat({0xFF, 0x15}, Le32(0x00100000)));
  EXPECT_EQ(CallFormLength(code.Range(), v), 0);
  code.Place(v, {0xFF, 0xD0});  // an indirect call in the last two bytes takes precedence
  EXPECT_EQ(CallFormLength(code.Range(), v), 2);
}

TEST(CallFormTest, NeedsEightBytesOfCodeBefore) {
  FakeCode code;
  code.Place(kBegin + 8, {0xFF, 0xD0});
  EXPECT_EQ(CallFormLength(code.Range(), kBegin + 8), 2);
  code.Place(kBegin + 7, {0xFF, 0xD0});
  EXPECT_EQ(CallFormLength(code.Range(), kBegin + 7), 0);
  EXPECT_EQ(CallFormLength(code.Range(), kBegin + 256), 0);
  EXPECT_EQ(CallFormLength(code.Range(), kBegin - 1), 0);
}

TEST(ScanStackTest, RaiseAddressFirstThenReturnAddresses) {
  FakeCode code;
  const std::uint32_t raised = kBegin + 0x40, r1 = kBegin + 0x60, r2 = kBegin + 0xA0;
  code.Place(r1, {0xFF, 0xD0});
  code.Place(r2, Cat({0xE8}, Le32(static_cast<std::uint32_t>(-0x50))));
  const std::uint32_t slots[] = {r1, 0x12345678, kBegin + 0x30 /* no call before it */, r2, 0, r1};
  const auto found = ScanStack(slots, 6, raised, {code.Range()});
  const std::vector<std::uint32_t> expected = {raised, r1 - 2, r2 - 5, r1 - 2};
  EXPECT_EQ(found, expected);
}

TEST(ScanStackTest, RaiseAddressAfterACallNamesTheCall) {
  FakeCode code;
  const std::uint32_t raised = kBegin + 0x40;
  code.Place(raised, Cat({0xE8}, Le32(0x10)));
  const std::uint32_t inCode[] = {kBegin + 0x50};
  EXPECT_EQ(ScanStack(inCode, 1, raised, {code.Range()}).front(), raised - 5);
  // The first slot decides whether the raise address is tested at all.
  const std::uint32_t outside[] = {0x7FFF0000};
  EXPECT_EQ(ScanStack(outside, 1, raised, {code.Range()}), std::vector<std::uint32_t>{raised});
  EXPECT_EQ(ScanStack(nullptr, 0, raised, {code.Range()}), std::vector<std::uint32_t>{raised});
}

TEST(ScanStackTest, StopsAtTheListLimit) {
  FakeCode code;
  const std::uint32_t r = kBegin + 0x60;
  code.Place(r, {0xFF, 0xD0});
  const std::vector<std::uint32_t> slots(5000, r);
  const auto found = ScanStack(slots.data(), slots.size(), kBegin + 0x10, {code.Range()});
  EXPECT_EQ(found.size(), kCallStackLimit);
}

TEST(ScanStackTest, SecondModuleIsTriedAfterTheFirst) {
  FakeCode own, other;
  const std::uint32_t otherBegin = 0x10001000;
  other.bytes[0x40 - 2] = 0xFF;
  other.bytes[0x40 - 1] = 0xD6;  // call esi
  const CodeRange otherRange{otherBegin, otherBegin + 255, other.bytes.data()};
  const std::uint32_t slots[] = {otherBegin + 0x40};
  const auto found = ScanStack(slots, 1, kBegin + 0x20, {own.Range(), otherRange});
  EXPECT_EQ(found, (std::vector<std::uint32_t>{kBegin + 0x20, otherBegin + 0x3E}));
}

}  // namespace
}  // namespace tarnwick
