#include <gtest/gtest.h>

#include <string>

#include "decor/CaptionLayout.h"

namespace tarnwick {
namespace {

using namespace caption_style;

// Metrics of a classic 96-dpi title bar.
FrameMetrics ClassicMetrics() {
  FrameMetrics m;
  m.cxSize = 18;
  m.cySize = 18;
  m.cxSmSize = 12;
  m.cySmSize = 14;
  m.cxFrame = 4;
  m.cyFrame = 4;
  m.cxDlgFrame = 3;
  m.cyDlgFrame = 3;
  return m;
}

constexpr std::uint32_t kOverlapped = kCaption | kSysMenu | kThickFrame | kMinimizeBox | kMaximizeBox;

TEST(CaptionOrder, MoveTargetIsClampedIntoTheList) {
  struct Row {
    int current, requested, count, expected;
  } rows[] = {
      {0, 5, 2, 1},                       // past the end: last index
      {1, -3, 2, 0},                      // negative: first index
      {0, 1, 2, 1},      {1, 1, 2, -1},   // already there
      {0, 0, 1, -1},     {-1, 0, 3, -1},  // not in a list
      {2, 32767, 3, -1}, {2, 0, 3, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.current) + " -> " + std::to_string(r.requested));
    EXPECT_EQ(MoveTargetIndex(r.current, r.requested, r.count), r.expected);
  }
}

TEST(CaptionOrder, PendingOrderSortIsStableAndPutsUnreadFirst) {
  std::vector<char> items{'a', 'b', 'c', 'd', 'e'};
  std::vector<int> keys{2, -1, 0, 2, 1};
  EXPECT_TRUE(SortByPendingOrder(items, keys));
  EXPECT_EQ(std::string(items.begin(), items.end()), "bcead");
  EXPECT_EQ(keys, (std::vector<int>{-1, 0, 1, 2, 2}));
  // A second sort finds nothing to do and says so.
  EXPECT_FALSE(SortByPendingOrder(items, keys));
  std::vector<char> none;
  std::vector<int> noKeys;
  EXPECT_FALSE(SortByPendingOrder(none, noKeys));
}

TEST(CaptionRelayout, ThreeButtonsTouchAtCxSteps) {
  const int cx = 18;
  std::vector<LayoutSlot> slots(3);
  AssignRightOffsets(slots, cx);
  EXPECT_EQ(slots[0].rightOffset, cx);
  EXPECT_EQ(slots[1].rightOffset, 2 * cx - 2);
  EXPECT_EQ(slots[2].rightOffset, 3 * cx - 4);
}

TEST(CaptionRelayout, HiddenButtonsKeepTheirOffsetAndTakeNoRoom) {
  std::vector<LayoutSlot> slots(3);
  slots[1].visible = false;
  slots[1].rightOffset = 777;
  AssignRightOffsets(slots, 18);
  EXPECT_EQ(slots[0].rightOffset, 18);
  EXPECT_EQ(slots[1].rightOffset, 777);
  EXPECT_EQ(slots[2].rightOffset, 2 * 18 - 2);  // moved into the hidden one's place
}

TEST(CaptionRelayout, SeparatorWidthAddsAGapAndIsStoredInOneByte) {
  struct Row {
    int value;
    int stored;
  } rows[] = {{0, 0}, {1, 1}, {255, 255}, {256, 0}, {300, 44}, {-1, 255}};
  for (const Row& r : rows) EXPECT_EQ(StoredSeparatorWidth(r.value), r.stored) << r.value;
  std::vector<LayoutSlot> slots(2);
  slots[0].separatorWidth = StoredSeparatorWidth(300);
  AssignRightOffsets(slots, 18);
  EXPECT_EQ(slots[0].rightOffset, 2 + 44 + 16);
  EXPECT_EQ(slots[1].rightOffset, 2 + 44 + 16 + 16);
}

TEST(CaptionPlacement, OverlappedWindowSubtractsThreeStandardButtons) {
  WindowShape shape{618, kOverlapped, 0, false};
  const ButtonPlacement p = PlaceButton(ClassicMetrics(), shape, 18);
  ASSERT_TRUE(p.paintable);
  const int w = 618 - 3 * 18;                         // min, max, close
  EXPECT_EQ(p.rectLeft, w - 18 - (4 - 2) - (4 + 2));  // thick frame
  EXPECT_EQ(p.rectTop, 6);
  EXPECT_EQ(p.rectRight, p.rectLeft + 13 + 3);
  EXPECT_EQ(p.blitX, w - 18 - 4 + 2);
  EXPECT_EQ(p.blitY, 6);
  EXPECT_EQ(p.imageWidth, 16);
  EXPECT_EQ(p.imageHeight, 14);
}

TEST(CaptionPlacement, StandardButtonsAndFramesFollowStyle) {
  const FrameMetrics m = ClassicMetrics();
  struct Row {
    const char* name;
    std::uint32_t style, exStyle;
    bool iconic;
    int width;  // the W after subtracting the standard buttons
    int fx, fy;
  } rows[] = {
      {"sysmenu only, dialog frame", kCaption | kSysMenu, 0, false, 300 - 18, 3, 3},
      {"help + close", kCaption | kSysMenu, kExContextHelp, false, 300 - 36, 3, 3},
      {"help ignored with minimise box", kCaption | kSysMenu | kMinimizeBox, kExContextHelp, false, 300 - 54,
       3, 3},
      {"no close button", kCaption | kThickFrame, 0, false, 300, 4, 4},
      {"iconic uses dialog frame", kOverlapped, 0, true, 300 - 54, 3, 3},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const ButtonPlacement p = PlaceButton(m, WindowShape{300, r.style, r.exStyle, r.iconic}, 20);
    EXPECT_EQ(p.rectLeft, r.width - 20 - (r.fx - 2) - (r.fy + 2));
    EXPECT_EQ(p.blitX, r.width - 20 - r.fx + 2);
    EXPECT_EQ(p.blitY, r.fy + 2);
  }
}

TEST(CaptionPlacement, ToolWindowUsesSmallMetricsAndNoMinMax) {
  const FrameMetrics m = ClassicMetrics();
  EXPECT_EQ(CaptionButtonWidth(m, kExToolWindow), 12);
  EXPECT_EQ(CaptionButtonWidth(m, 0), 18);
  const ButtonPlacement p = PlaceButton(m, WindowShape{200, kOverlapped, kExToolWindow, false}, 12);
  EXPECT_EQ(p.rectLeft, 200 - 12 - 12 - 2 - 6);  // only the close button is subtracted
  EXPECT_EQ(p.imageWidth, 12 - 5 + 3);
  EXPECT_EQ(p.imageHeight, 14 - 7 + 3);
}

TEST(CaptionPlacement, NoTitleBarNoButton) {
  for (std::uint32_t style : {0u, 0x00800000u /*border only*/, 0x00400000u /*dlgframe only*/}) {
    EXPECT_FALSE(PlaceButton(ClassicMetrics(), WindowShape{300, style | kSysMenu, 0, false}, 18).paintable)
        << style;
  }
}

TEST(CaptionHitTest, EdgesOfTheButtonRectangle) {
  ButtonPlacement p;
  p.rectLeft = 100;
  p.rectRight = 116;
  struct Row {
    int x, y;
    bool hit;
  } rows[] = {{100, -5, false}, {101, -5, true}, {117, -5, true}, {118, -5, false},
              {110, -1, true},  {110, 0, false}, {110, -30, true}};
  for (const Row& r : rows) EXPECT_EQ(HitsButton(p, r.x, r.y), r.hit) << r.x << "," << r.y;
}

TEST(CaptionHitTest, PointerLeavesTheCaptionBand) {
  const int band = 18;
  struct Row {
    int y;
    bool left;
  } rows[] = {{0, true}, {5, true}, {-1, false}, {-19, false}, {-20, true}};
  for (const Row& r : rows) EXPECT_EQ(LeftCaptionBand(r.y, band), r.left) << r.y;
}

TEST(CaptionTooltip, RectangleCoversTheButtonAboveTheClientArea) {
  ButtonPlacement p;
  p.rectLeft = 100;
  p.rectRight = 116;
  EXPECT_EQ(TooltipRect(p, 18, 0, true), (ToolRect{101, -18, 117, 0}));
  EXPECT_EQ(TooltipRect(p, 18, 19, true), (ToolRect{101, -37, 117, -19}));
  EXPECT_EQ(TooltipRect(p, 18, 19, false), (ToolRect{0, 0, 0, 0}));
}

}  // namespace
}  // namespace tarnwick

namespace tarnwick {
namespace {

TEST(CaptionCursor, StockIdsMapToSystemCursors) {
  struct Row {
    int id, resource;
  } rows[] = {{0, 32512},
              {-2, 32512},
              {-4, 32513},
              {-11, 32514},
              {-21, 32649},
              {-22, 32646},
              {-1, 32512} /*none: arrow*/,
              {5, 32512},
              {-23, 32512}};
  for (const Row& r : rows) EXPECT_EQ(StockCursorResource(r.id), r.resource) << r.id;
}

}  // namespace
}  // namespace tarnwick
