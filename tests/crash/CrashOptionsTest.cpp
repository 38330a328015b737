// The options block at the end of the executable: written and read back
// field by field, found only with its magic, and refused whenever a size or
// a field runs past the data it claims.
#include <gtest/gtest.h>

#include <algorithm>

#include "crash/CrashOptions.h"
#include "crash/LineTable.h"

namespace tarnwick {
namespace {

std::vector<std::uint8_t> FileWith(const std::vector<std::uint8_t>& block, std::size_t prefix = 100) {
  std::vector<std::uint8_t> file(prefix + block.size(), 0xCC);
  std::copy(block.begin(), block.end(), file.begin() + static_cast<std::ptrdiff_t>(prefix));
  return file;
}

TEST(OptionsBlockTest, ProgramValuesSurviveTheRoundTrip) {
  CrashOptions written = TarnwickCrashOptions();
  written.classMessages = {{"EABORT", ""}, {"ESOCKETERROR", "Network problem."}};
  written.mailBodyLines = {"first", "second"};
  written.logFolder = "C:\\logs\\";
  written.lineTables = EncodeLineTables({{"Tarnwick.exe", {{"MainBox.cpp", 1, 0, {{1, 1}}}}}});
  const auto file = FileWith(WriteOptionsBlock(written));

  const auto read = ReadOptionsBlock(file.data(), file.size());
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->formatVersion, 301);
  EXPECT_EQ(read->classMessages, written.classMessages);
  EXPECT_EQ(read->mailBodyLines, written.mailBodyLines);
  EXPECT_EQ(read->texts, written.texts);
  EXPECT_EQ(read->Text(kTextExplanation),
            "An error has occurred during the execution of the program.\r\n"
            "For more details read the following informations.");
  EXPECT_EQ(read->maxLogEntries, 0);
  EXPECT_EQ(read->askMode, 2);
  EXPECT_EQ(read->sendMode, 0);
  EXPECT_TRUE(read->useClassMessages);
  EXPECT_TRUE(read->clearLogOnNewVersion);
  EXPECT_FALSE(read->noLogLimit);
  EXPECT_FALSE(read->showAddress);
  EXPECT_FALSE(read->noOutput);
  EXPECT_EQ(read->logFolder, "C:\\logs\\");
  EXPECT_EQ(read->lineTables, written.lineTables);
}

TEST(OptionsBlockTest, SwitchesKeepTheirOrder) {
  // Turn each switch on alone: it must come back as the only one on.
  for (int which = 0; which < 15; ++which) {
    SCOPED_TRACE(which);
    CrashOptions o;
    bool* all[] = {&o.useClassMessages,     &o.noLogLimit,        &o.clearLogOnNewVersion,
                   &o.skipDuplicates,       &o.showAddress,       &o.showRowsWithoutLineInfo,
                   &o.showComputerName,     &o.showDate,          &o.showTime,
                   &o.showActiveForm,       &o.showActiveControl, &o.showExceptionType,
                   &o.showExceptionMessage, &o.showVersionNumber, &o.noOutput};
    for (int i = 0; i < 15; ++i) *all[i] = i == which;
    const auto block = WriteOptionsBlock(o);
    const auto read = ReadOptionsBlock(block.data(), block.size());
    ASSERT_TRUE(read.has_value());
    const bool back[] = {read->useClassMessages,     read->noLogLimit,        read->clearLogOnNewVersion,
                         read->skipDuplicates,       read->showAddress,       read->showRowsWithoutLineInfo,
                         read->showComputerName,     read->showDate,          read->showTime,
                         read->showActiveForm,       read->showActiveControl, read->showExceptionType,
                         read->showExceptionMessage, read->showVersionNumber, read->noOutput};
    for (int i = 0; i < 15; ++i) EXPECT_EQ(back[i], i == which) << i;
  }
}

TEST(OptionsBlockTest, OlderFormatHasNoLogFolder) {
  CrashOptions o = TarnwickCrashOptions();
  o.formatVersion = 300;
  o.logFolder = "ignored";
  o.lineTables = {1, 2, 3};
  const auto block = WriteOptionsBlock(o);
  const auto read = ReadOptionsBlock(block.data(), block.size());
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->logFolder, "");
  EXPECT_EQ(read->lineTables, o.lineTables);
}

TEST(OptionsBlockTest, MissingOrDamagedBlocksAreAbsent) {
  const auto good = FileWith(WriteOptionsBlock(TarnwickCrashOptions()));
  ASSERT_TRUE(ReadOptionsBlock(good.data(), good.size()).has_value());

  auto badMagic = good;
  badMagic.back() ^= 1;
  EXPECT_FALSE(ReadOptionsBlock(badMagic.data(), badMagic.size()).has_value());

  // Size fields just beyond and far beyond the file.
  for (std::uint32_t size : {static_cast<std::uint32_t>(good.size() - 7), 0xFFFFFFF0u}) {
    SCOPED_TRACE(size);
    auto tooLarge = good;
    const std::size_t at = tooLarge.size() - 8;
    for (int i = 0; i < 4; ++i) tooLarge[at + i] = static_cast<std::uint8_t>(size >> (8 * i));
    EXPECT_FALSE(ReadOptionsBlock(tooLarge.data(), tooLarge.size()).has_value());
  }

  // A block that ends early: the size is cut down so the fields run out.
  const auto block = WriteOptionsBlock(TarnwickCrashOptions());
  const std::uint32_t fullSize = static_cast<std::uint32_t>(block.size() - 8);
  for (std::uint32_t cut : {0u, 1u, 2u, 5u, fullSize / 2, fullSize - 2, fullSize - 1}) {
    SCOPED_TRACE(cut);
    std::vector<std::uint8_t> truncated(block.end() - 8 - cut, block.end() - 8);
    for (int i = 0; i < 4; ++i) truncated.push_back(static_cast<std::uint8_t>(cut >> (8 * i)));
    for (int i = 0; i < 4; ++i) truncated.push_back(block[block.size() - 4 + static_cast<std::size_t>(i)]);
    EXPECT_FALSE(ReadOptionsBlock(truncated.data(), truncated.size()).has_value());
  }

  EXPECT_FALSE(ReadOptionsBlock(good.data(), 7).has_value());
  EXPECT_FALSE(ReadOptionsBlock(nullptr, 0).has_value());
}

TEST(OptionsBlockTest, ListCountsLargerThanTheBlockAreRefused) {
  auto block = WriteOptionsBlock(TarnwickCrashOptions());
  // Class-message count right after the format version.
  block[2] = 0xFF;
  block[3] = 0xFF;
  EXPECT_FALSE(ReadOptionsBlock(block.data(), block.size()).has_value());
}

TEST(OptionsBlockTest, OversizedLineTablesAreDroppedButOptionsKept) {
  CrashOptions o = TarnwickCrashOptions();
  for (std::size_t size : {kLineTableLimit - 1, kLineTableLimit, kLineTableLimit + 1}) {
    SCOPED_TRACE(size);
    o.lineTables.assign(size, 0x2A);
    const auto block = WriteOptionsBlock(o);
    const auto read = ReadOptionsBlock(block.data(), block.size());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->lineTables.size(), size < kLineTableLimit ? size : 0u);
    EXPECT_EQ(read->Text(kTextButton), "&OK");
  }
}

TEST(OptionsBlockTest, DefaultsWithoutBlock) {
  const CrashOptions o;
  EXPECT_EQ(o.maxLogEntries, 3);
  EXPECT_EQ(o.askMode, 2);
  EXPECT_FALSE(o.useClassMessages);
  EXPECT_TRUE(o.showVersionNumber);
  EXPECT_TRUE(o.texts[kTextDialogCaption].empty());
}

}  // namespace
}  // namespace tarnwick
