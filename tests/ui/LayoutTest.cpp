#include "ui/Layout.h"

#include <gtest/gtest.h>

#include "ui/ModalResult.h"

namespace tarnwick {

// Lets failures print rectangles as numbers rather than bytes.
void PrintTo(const Rect& r, std::ostream* os) {
  *os << "{" << r.left << "," << r.top << "," << r.width << "," << r.height << "}";
}

namespace {

TEST(AlignChildren, MainWindowShapeStatusBarLeftPanelAndClientPanel) {
  // Status bar at the bottom, a 217-wide left panel, the rest to the log.
  Rect client{0, 0, 610, 311};
  std::vector<AlignItem> items = {
      {Align::Left, {0, 0, 217, 10}},
      {Align::Client, {300, 0, 5, 5}},
      {Align::Bottom, {0, 0, 610, 20}},
  };
  auto r = AlignChildren(client, items);
  EXPECT_EQ(r[0], (Rect{0, 0, 217, 291}));
  EXPECT_EQ(r[1], (Rect{217, 0, 393, 291}));
  EXPECT_EQ(r[2], (Rect{0, 291, 610, 20}));
}

TEST(AlignChildren, EachKindStacksInListOrderAndTopComesBeforeLeft) {
  Rect client{5, 7, 100, 80};
  std::vector<AlignItem> items = {
      {Align::Left, {0, 0, 10, 0}},  {Align::Top, {0, 0, 0, 15}},   {Align::Top, {0, 0, 0, 5}},
      {Align::Right, {0, 0, 20, 0}}, {Align::Bottom, {0, 0, 0, 8}}, {Align::None, {1, 2, 3, 4}},
  };
  auto r = AlignChildren(client, items);
  EXPECT_EQ(r[1], (Rect{5, 7, 100, 15}));
  EXPECT_EQ(r[2], (Rect{5, 22, 100, 5}));
  EXPECT_EQ(r[4], (Rect{5, 79, 100, 8}));
  EXPECT_EQ(r[0], (Rect{5, 27, 10, 52}));
  EXPECT_EQ(r[3], (Rect{85, 27, 20, 52}));
  EXPECT_EQ(r[5], (Rect{1, 2, 3, 4}));
}

TEST(AlignChildren, ExtentsShrinkToZeroWhenTheRoomRunsOut) {
  struct Row {
    int clientHeight, topHeight, bottomHeight;
    int wantTop, wantBottom, wantClient;
  };
  const Row rows[] = {
      {100, 30, 30, 30, 30, 40}, {60, 30, 30, 30, 30, 0}, {59, 30, 30, 30, 29, 0},
      {10, 30, 30, 10, 0, 0},    {0, 30, 30, 0, 0, 0},    {-5, 30, 30, 0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.clientHeight);
    auto r = AlignChildren({0, 0, 50, row.clientHeight}, {{Align::Top, {0, 0, 0, row.topHeight}},
                                                          {Align::Bottom, {0, 0, 0, row.bottomHeight}},
                                                          {Align::Client, {}}});
    EXPECT_EQ(r[0].height, row.wantTop);
    EXPECT_EQ(r[1].height, row.wantBottom);
    EXPECT_EQ(r[2].height, row.wantClient);
    EXPECT_GE(r[2].top, 0);
  }
}

TEST(CenterOnScreen, CentresAndKeepsOversizedWindowsOnScreen) {
  struct Row {
    int sw, sh, w, h, x, y;
  };
  const Row rows[] = {
      {1024, 768, 618, 338, 203, 215}, {1024, 768, 1024, 768, 0, 0}, {1024, 768, 1025, 769, 0, 0},
      {1024, 768, 1, 1, 511, 383},     {1023, 767, 2, 2, 510, 382},  {0, 0, 10, 10, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.w << "x" << row.h);
    Point p = CenterOnScreen(row.sw, row.sh, row.w, row.h);
    EXPECT_EQ(p.x, row.x);
    EXPECT_EQ(p.y, row.y);
  }
}

TEST(TabSequence, SortsByOrderKeepsTiesAndSkipsNonStops) {
  EXPECT_EQ(TabSequence({}), (std::vector<std::size_t>{}));
  EXPECT_EQ(TabSequence({-1, -1}), (std::vector<std::size_t>{}));
  EXPECT_EQ(TabSequence({2, -1, 0, 1}), (std::vector<std::size_t>{2, 3, 0}));
  EXPECT_EQ(TabSequence({1, 1, 0}), (std::vector<std::size_t>{2, 0, 1}));
}

TEST(MnemonicOf, FindsTheLetterAfterASingleAmpersand) {
  struct Row {
    const char* caption;
    char32_t want;
  };
  const Row rows[] = {
      {"ファイルを受信(&R)", U'R'},
      {"終了(&q)", U'Q'},
      {"閉じる(&C)", U'C'},
      {"Always on &top", U'T'},
      {"no accelerator", 0},
      {"", 0},
      {"a && b", 0},
      {"a && &b", U'B'},
      {"trailing &", 0},
      {"&&", 0},
      {"&送", U'送'},
      {"&\xE3\x81", 0},  // truncated UTF-8 after the ampersand
      {"&1", U'1'},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.caption);
    EXPECT_EQ(MnemonicOf(row.caption), row.want);
  }
  EXPECT_EQ(MnemonicOf(nullptr), 0u);
}

TEST(ModalResultRules, CloseButtonAndLoopEnd) {
  EXPECT_EQ(ModalResultOnClose(mrNone), mrCancel);
  EXPECT_EQ(ModalResultOnClose(mrOk), mrOk);
  EXPECT_EQ(ModalResultOnButton(mrOk, mrNone), mrOk);
  EXPECT_EQ(ModalResultOnButton(mrNone, mrNone), mrNone);
  EXPECT_EQ(ModalResultOnButton(mrCancel, mrOk), mrCancel);
  EXPECT_FALSE(ModalLoopEnds(mrNone, false));
  EXPECT_TRUE(ModalLoopEnds(mrOk, false));
  EXPECT_TRUE(ModalLoopEnds(mrNone, true));
  EXPECT_EQ(ModalFinalResult(mrNone, true), mrCancel);
  EXPECT_EQ(ModalFinalResult(mrOk, true), mrOk);
  EXPECT_EQ(ModalFinalResult(mrCancel, false), mrCancel);
}

}  // namespace
}  // namespace tarnwick
