// Report dialog geometry: resize layout, label placement, defaults.
#include <gtest/gtest.h>

#include "crash/DialogLayout.h"

namespace tarnwick {
namespace {

void ExpectRect(const LayoutRect& r, int left, int top, int width, int height) {
  EXPECT_EQ(r.left, left);
  EXPECT_EQ(r.top, top);
  EXPECT_EQ(r.width, width);
  EXPECT_EQ(r.height, height);
}

TEST(ReportDialogLayoutTest, FollowsTheClientSize) {
  struct Case {
    int w, h;
    int editW, editH, textW, buttonLeft, buttonTop;
  } cases[] = {
      {466, 252, 451, 131, 410, 195, 220}, {467, 253, 452, 132, 411, 196, 221},
      {600, 400, 585, 279, 544, 262, 368}, {76, 121, 61, 0, 20, 0, 89},
      {74, 0, 59, 0, 18, 0, -32},  // (74 - 75) / 2 rounds toward zero
      {0, 0, 0, 0, 0, -37, -32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    const ReportDialogLayout l = LayoutReportDialog(c.w, c.h);
    ExpectRect(l.report, 8, 80, c.editW, c.editH);
    ExpectRect(l.explanation, 48, 8, c.textW, 54);
    ExpectRect(l.button, c.buttonLeft, c.buttonTop, 75, 25);
  }
}

TEST(ReportDialogLayoutTest, LabelHeightScalesWithDpi) {
  struct Case {
    int dpi, h;
  } cases[] = {{96, 13}, {120, 16}, {144, 20}, {192, 26}, {72, 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    ExpectRect(ReportLabelRect(c.dpi), 8, 78 - c.h, 500, c.h);
  }
}

TEST(ReportDialogLayoutTest, DefaultGeometryIsCentred) {
  const DialogGeometry g = DefaultDialogGeometry(1024, 768);
  EXPECT_EQ(g.width, 466);
  EXPECT_EQ(g.height, 252);
  EXPECT_EQ(g.left, 279);
  EXPECT_EQ(g.top, 258);
  EXPECT_EQ(g.showState, 1);
  EXPECT_EQ(DefaultDialogGeometry(465, 251).left, 0);  // -1 / 2 rounds toward zero
  EXPECT_EQ(DefaultDialogGeometry(400, 200).top, -26);
  EXPECT_EQ(RecordedShowState(true, false), 3);
  EXPECT_EQ(RecordedShowState(false, true), 6);
  EXPECT_EQ(RecordedShowState(false, false), 1);
}

TEST(ReportDialogLayoutTest, OnlyRecordedShowStatesAreUsed) {
  struct Case {
    int stored, used;
  } cases[] = {{1, 1}, {3, 3}, {6, 6}, {0, 1}, {2, 1}, {5, 1}, {-1, 1}, {7, 1}};
  for (const Case& c : cases) EXPECT_EQ(UsableShowState(c.stored), c.used) << c.stored;
}

// Regression: a position stored on a monitor that is gone opened the modal
// dialog off screen.
TEST(ReportDialogLayoutTest, StoredRectangleIsKeptInsideTheWorkArea) {
  const ScreenRect primary{0, 0, 1024, 738};        // a task bar below
  const ScreenRect secondary{-1280, -200, 0, 824};  // left of the primary, higher up
  struct Case {
    const char* name;
    DialogGeometry stored;
    ScreenRect area;
    int left, top, width, height;
  } cases[] = {
      {"inside stays", {10, 20, 466, 252, 1}, primary, 10, 20, 466, 252},
      {"exactly fills", {0, 0, 1024, 738, 1}, primary, 0, 0, 1024, 738},
      {"right of the screen", {5000, 100, 466, 252, 1}, primary, 558, 100, 466, 252},
      {"below the work area", {100, 700, 466, 252, 1}, primary, 100, 486, 466, 252},
      {"above and left", {-3000, -3000, 466, 252, 1}, primary, 0, 0, 466, 252},
      {"one pixel out", {559, 0, 466, 252, 1}, primary, 558, 0, 466, 252},
      {"larger than the area", {-10, -10, 2000, 900, 1}, primary, 0, 0, 1024, 738},
      {"negative size", {10, 10, -5, -7, 1}, primary, 10, 10, 0, 0},
      {"second monitor", {-5000, -600, 466, 252, 1}, secondary, -1280, -200, 466, 252},
      {"extreme values", {2147483647, -2147483647 - 1, 2147483647, 466, 1}, primary, 0, 0, 1024, 466},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DialogGeometry g = KeepInsideWorkArea(c.stored, c.area);
    EXPECT_EQ(g.left, c.left);
    EXPECT_EQ(g.top, c.top);
    EXPECT_EQ(g.width, c.width);
    EXPECT_EQ(g.height, c.height);
    EXPECT_EQ(g.showState, c.stored.showState);
  }
}

}  // namespace
}  // namespace tarnwick
