#include <gtest/gtest.h>

#include "decor/RollerFrames.h"

namespace tarnwick {
namespace {

TEST(RollerFrames, MainWindowRollsUpInElevenFrames) {
  EXPECT_EQ(RollerStep(311, 8), 34);
  EXPECT_EQ(RollUpFrames(311, 0, 8), (std::vector<int>{311, 277, 243, 209, 175, 141, 107, 73, 39, 5, 0}));
}

TEST(RollerFrames, MainWindowRollsDownToTheExactHeight) {
  const std::vector<int> frames = RollDownFrames(311, 0, 8);
  ASSERT_GE(frames.size(), 3u);
  EXPECT_EQ(frames[0], 0);
  EXPECT_EQ(frames[1], 34);
  EXPECT_EQ(frames[2], 68);
  EXPECT_EQ(frames.back(), 311);
  EXPECT_EQ(frames.size(), 11u);
}

TEST(RollerFrames, DivisorAndMinimumStepOverTheSpeedRange) {
  struct Row {
    int speed, divisor, height, step;
  } rows[] = {{0, 33, 311, 9}, {8, 9, 311, 34}, {10, 3, 4, 2},   {10, 3, 7, 2},
              {10, 3, 9, 3},   {0, 33, 0, 2},   {-5, 33, 66, 2}, {99, 3, 30, 10}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.speed);
    EXPECT_EQ(RollerDivisor(r.speed), r.divisor);
    EXPECT_EQ(RollerStep(r.height, r.speed), r.step);
  }
  EXPECT_EQ(RollUpFrames(4, 0, 10), (std::vector<int>{4, 2, 0}));
}

TEST(RollerFrames, RemainHeightIsTheFloorAndTheStart) {
  EXPECT_EQ(RollUpFrames(100, 40, 8), (std::vector<int>{100, 89, 78, 67, 56, 45, 40}));
  EXPECT_EQ(RollDownFrames(100, 40, 8), (std::vector<int>{40, 51, 62, 73, 84, 95, 100}));
  // Nothing to do when the client is already at or below the strip.
  EXPECT_TRUE(RollUpFrames(30, 40, 8).empty());
  // A strip taller than the saved height becomes the target of the way back.
  EXPECT_EQ(RollDownFrames(10, 50, 8), (std::vector<int>{50}));
}

TEST(RollerFrames, RolledHeightFrameFollowsBorderStyle) {
  struct Row {
    RollerBorder border;
    int expected;
  } rows[] = {{RollerBorder::Single, 18 + 3 + 3 + 5},     {RollerBorder::Dialog, 18 + 3 + 3 + 5},
              {RollerBorder::ToolWindow, 18 + 3 + 3 + 5}, {RollerBorder::None, 18 + 4 + 3 + 5},
              {RollerBorder::Sizeable, 18 + 4 + 3 + 5},   {RollerBorder::SizeToolWin, 18 + 4 + 3 + 5}};
  for (const Row& r : rows) EXPECT_EQ(RolledHeight(18, 3, 4, r.border, 5), r.expected);
}

TEST(RollerFrames, SizingBordersBecomePlainBorder) {
  struct Row {
    int in, out;
  } rows[] = {{2, 2}, {9, 9}, {10, 18}, {13, 18}, {17, 18}, {18, 18}, {20, 20}, {1, 1}};
  for (const Row& r : rows) EXPECT_EQ(RolledHitTestCode(r.in), r.out) << r.in;
}

}  // namespace
}  // namespace tarnwick
