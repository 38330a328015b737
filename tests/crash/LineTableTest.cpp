// Line tables: every step form survives encode and decode, lines wrap at 16
// bits, lookups hit unit starts, exact steps and the gaps between steps, and
// damaged streams end the lookup without reading past their end.
#include <gtest/gtest.h>

#include "crash/CrashOptions.h"
#include "crash/LineTable.h"

namespace tarnwick {
namespace {

std::size_t EncodedSize(std::uint16_t line, std::uint32_t address) {
  std::vector<std::uint8_t> out;
  EncodeLineStep(out, line, address);
  return out.size();
}

TEST(LineStepTest, ChoosesTheShortestFormAtEachBoundary) {
  struct Case {
    std::uint16_t line;
    std::uint32_t address;
    std::size_t bytes;
  } cases[] = {
      {0, 0, 1},     {3, 60, 1},    {3, 61, 3},    {2, 63, 1},    {0, 63, 1},       {0, 64, 3},
      {3, 16383, 3}, {0, 16384, 5}, {4, 0, 3},     {4, 63, 3},    {1023, 63, 3},    {1024, 0, 5},
      {4, 64, 5},    {65535, 0, 5}, {0, 65535, 5}, {0, 65536, 6}, {7, 0x20000, 13},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "line " << c.line << " address " << c.address);
    EXPECT_EQ(EncodedSize(c.line, c.address), c.bytes);
  }
}

LineModule SampleModule(std::vector<LineStep> steps, std::uint16_t firstLine = 10) {
  return {"Tarnwick.exe", {{"MainBox.cpp", firstLine, 0x500, std::move(steps)}}};
}

TEST(LineTableCodecTest, RoundTripsEveryStepForm) {
  const std::vector<LineStep> steps = {{0, 0},     {1, 5}, {3, 60},    {2, 63},    {3, 16383}, {1, 64},
                                       {1023, 63}, {4, 1}, {1024, 64}, {65535, 0}, {0, 65535}, {0xFFFE, 2}};
  const std::vector<LineModule> modules = {
      SampleModule(steps), {"helper.bpl", {{"Unit1.pas", 1, 0, {{1, 1}}}, {"Unit2.pas", 7, 9, {}}}}};
  const std::vector<std::uint8_t> stream = EncodeLineTables(modules);
  const auto decoded = DecodeLineTables(stream.data(), stream.size());
  ASSERT_TRUE(decoded.has_value());
  ASSERT_EQ(decoded->size(), 2u);
  EXPECT_EQ((*decoded)[1].name, "helper.bpl");
  ASSERT_EQ((*decoded)[0].units.size(), 1u);
  const LineUnit& unit = (*decoded)[0].units[0];
  EXPECT_EQ(unit.name, "MainBox.cpp");
  EXPECT_EQ(unit.firstLine, 10);
  EXPECT_EQ(unit.start, 0x500u);
  ASSERT_EQ(unit.steps.size(), steps.size());
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(unit.steps[i].lineAdvance, steps[i].lineAdvance);
    EXPECT_EQ(unit.steps[i].addressAdvance, steps[i].addressAdvance);
  }
  ASSERT_EQ((*decoded)[1].units.size(), 2u);
  EXPECT_EQ((*decoded)[1].units[1].firstLine, 7);
}

TEST(LineTableCodecTest, ModuleSizeCountsExactlyItsUnitRecords) {
  const std::vector<std::uint8_t> stream = EncodeLineTables({SampleModule({{1, 1}, {0, 70000}})});
  // name (1 + 12), size (4), then the units: name (1 + 11), line 2, start 4, count 4, steps.
  const std::uint32_t size = stream[13] | (stream[14] << 8) | (stream[15] << 16) | (stream[16] << 24);
  EXPECT_EQ(size, stream.size() - 17);
  // The split address advance is two entries, and the count says so.
  const std::size_t countAt = 17 + 12 + 2 + 4;
  EXPECT_EQ(stream[countAt], 3u);
}

constexpr std::uint32_t kBase = 0x400000;

std::optional<TInfoLine> Find(const std::vector<std::uint8_t>& stream, std::uint32_t address) {
  return LookupLine(stream.data(), stream.size(), address, [](int index, const std::string&) {
    return index == 0 ? std::optional<std::uint32_t>(kBase) : std::nullopt;
  });
}

TEST(LineLookupTest, ResolvesStartsStepsAndGaps) {
  // Unit starts at 0x401500 line 10; steps to 0x401504 line 11, 0x401510 line 14,
  // 0x401520 line 9 (a step back through the 16-bit wrap).
  const auto stream = EncodeLineTables({SampleModule({{1, 4}, {3, 12}, {0xFFFB, 16}})});
  const std::uint32_t start = kBase + kLineTableCodeOffset + 0x500;
  struct Case {
    std::uint32_t address;
    int line;  // -1: no line information
  } cases[] = {
      {start, 10},       {start + 1, 10},    {start + 3, 10},    {start + 4, 11},
      {start + 5, 11},   {start + 0xF, 11},  {start + 0x10, 14}, {start + 0x11, 14},
      {start + 0x20, 9}, {start + 0x21, -1}, {start - 1, -1},    {0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.address);
    const auto info = Find(stream, c.address);
    if (c.line < 0) {
      EXPECT_FALSE(info.has_value());
    } else {
      ASSERT_TRUE(info.has_value());
      EXPECT_EQ(info->line, c.line);
      EXPECT_EQ(info->unitName, "MainBox.cpp");
      EXPECT_EQ(info->moduleIndex, 0);
    }
  }
}

TEST(LineLookupTest, AddressAtUnitStartNeedsNoSteps) {
  // The unit claims a million steps that are not there: only its start can be
  // resolved, and asking for anything else must stop at the end of the data.
  auto stream = EncodeLineTables({SampleModule({})});
  const std::size_t countAt = 17 + 12 + 2 + 4;
  stream[countAt + 2] = 0x10;
  const std::uint32_t start = kBase + kLineTableCodeOffset + 0x500;
  const auto info = Find(stream, start);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->line, 10);
  EXPECT_FALSE(Find(stream, start + 1).has_value());
}

TEST(LineLookupTest, LaterModulesUseTheirOwnLoadAddress) {
  const std::vector<LineModule> modules = {SampleModule({{1, 4}}),
                                           {"extra.bpl", {{"Other.pas", 100, 0x20, {{5, 8}}}}}};
  const auto stream = EncodeLineTables(modules);
  const auto lookup = [&](std::uint32_t address, bool extraLoaded) {
    return LookupLine(stream.data(), stream.size(), address, [&](int index, const std::string& name) {
      if (index == 0) return std::optional<std::uint32_t>(kBase);
      if (extraLoaded && name == "extra.bpl") return std::optional<std::uint32_t>(0x10000000);
      return std::optional<std::uint32_t>();
    });
  };
  const std::uint32_t otherStart = 0x10000000 + kLineTableCodeOffset + 0x20;
  const auto info = lookup(otherStart + 8, true);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->moduleIndex, 1);
  EXPECT_EQ(info->moduleName, "extra.bpl");
  EXPECT_EQ(info->unitName, "Other.pas");
  EXPECT_EQ(info->line, 105);
  EXPECT_FALSE(lookup(otherStart + 8, false).has_value());
}

TEST(LineLookupTest, DamagedStreamsYieldNoLineInformation) {
  const auto good = EncodeLineTables({SampleModule({{1, 4}, {3, 12}})});
  const std::uint32_t start = kBase + kLineTableCodeOffset + 0x500;
  ASSERT_TRUE(Find(good, start + 4).has_value());

  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    SCOPED_TRACE(cut);
    const std::vector<std::uint8_t> truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_FALSE(Find(truncated, start + 0x10).has_value());
    if (cut > 0) {
      EXPECT_FALSE(DecodeLineTables(truncated.data(), truncated.size()).has_value());
    }
  }

  auto oversized = good;
  oversized[16] = 0x7F;  // module size far beyond the stream
  EXPECT_FALSE(Find(oversized, start).has_value());
  EXPECT_FALSE(DecodeLineTables(oversized.data(), oversized.size()).has_value());

  std::vector<std::uint8_t> huge = good;
  huge.resize(kLineTableLimit, 0);
  EXPECT_FALSE(Find(huge, start).has_value());
  huge.resize(kLineTableLimit - 1);
  // Just below the limit the padding is read as further (empty-named,
  // zero-sized) modules and the real record still resolves.
  EXPECT_TRUE(Find(huge, start).has_value());
}

}  // namespace
}  // namespace tarnwick
