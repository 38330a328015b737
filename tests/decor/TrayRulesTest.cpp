#include <gtest/gtest.h>

#include "decor/TrayRules.h"

namespace tarnwick {
namespace {

constexpr unsigned kMove = 512, kLDown = 513, kLUp = 514, kLDbl = 515, kRDown = 516, kRUp = 517, kMDown = 519,
                   kMUp = 520;

TEST(TrayMouse, ButtonEventsCarryTheirButtonAndShiftBit) {
  struct Row {
    unsigned msg;
    TrayMouseEvent event;
    TrayMouseButton button;
    unsigned shift;
    bool foreground;
  } rows[] = {
      {kMove, TrayMouseEvent::Move, TrayMouseButton::Left, 0, false},
      {kLDown, TrayMouseEvent::Down, TrayMouseButton::Left, kTrayShiftLeft, false},
      {kLUp, TrayMouseEvent::Up, TrayMouseButton::Left, kTrayShiftLeft, true},
      {kRDown, TrayMouseEvent::Down, TrayMouseButton::Right, kTrayShiftRight, false},
      {kRUp, TrayMouseEvent::Up, TrayMouseButton::Right, kTrayShiftRight, true},
      {kMDown, TrayMouseEvent::Down, TrayMouseButton::Middle, kTrayShiftMiddle, false},
      {kMUp, TrayMouseEvent::Up, TrayMouseButton::Middle, kTrayShiftMiddle, true},
      {518, TrayMouseEvent::None, TrayMouseButton::Left, 0, false},  // right double click: nothing
      {0, TrayMouseEvent::None, TrayMouseButton::Left, 0, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.msg);
    const TrayReaction a = ReactToTrayMouse(r.msg, TrayState{});
    EXPECT_EQ(a.event, r.event);
    if (r.event != TrayMouseEvent::Move && r.event != TrayMouseEvent::None) {
      EXPECT_EQ(a.button, r.button);
    }
    EXPECT_EQ(a.shiftAdd, r.shift);
    EXPECT_EQ(a.setForegroundApp, r.foreground);
  }
  EXPECT_TRUE(ReactToTrayMouse(kRUp, TrayState{}).showPopup);
  EXPECT_FALSE(ReactToTrayMouse(kMUp, TrayState{}).showPopup);
}

TEST(TrayMouse, LeftClickNeedsAPressOnTheIcon) {
  TrayState s;
  s.options = kTrayOneClickRestore | kTrayShowMenuOnLeftClick;
  s.formVisible = false;
  const TrayReaction stray = ReactToTrayMouse(kLUp, s);
  EXPECT_FALSE(stray.raiseClick);
  EXPECT_FALSE(stray.restore);
  EXPECT_FALSE(stray.showPopup);

  EXPECT_TRUE(ReactToTrayMouse(kLDown, s).leftDownAfter);
  s.leftDown = true;
  const TrayReaction click = ReactToTrayMouse(kLUp, s);
  EXPECT_TRUE(click.raiseClick);
  EXPECT_TRUE(click.restore);
  EXPECT_TRUE(click.showPopup);
  EXPECT_FALSE(click.leftDownAfter);

  s.formVisible = true;  // nothing to restore
  EXPECT_FALSE(ReactToTrayMouse(kLUp, s).restore);
  s.options = 0;
  EXPECT_FALSE(ReactToTrayMouse(kLUp, s).showPopup);
}

TEST(TrayMouse, DoubleClickRestoresMinimisesOrClicksTheDefaultItem) {
  struct Row {
    const char* name;
    std::uint8_t options;
    bool visible, popup, hasDefault;
    bool restore, minimize, clickDefault;
  } rows[] = {
      {"main window as designed, hidden", kTrayDblClickRestore, false, false, false, true, false, false},
      {"visible, no minimise option", kTrayDblClickRestore, true, false, false, true, false, false},
      {"visible, minimise option", kTrayDblClickRestore | kTrayMinimizeToTray, true, false, false, false,
       true, false},
      {"hidden, minimise option", kTrayDblClickRestore | kTrayMinimizeToTray, false, false, false, true,
       false, false},
      {"no double-click option", 0, false, false, false, false, false, false},
      {"default item wins", kTrayDblClickRestore, false, true, true, false, false, true},
      {"menu without default item", kTrayDblClickRestore, false, true, false, true, false, false},
      {"menu on left click", kTrayDblClickRestore | kTrayShowMenuOnLeftClick, false, true, true, true, false,
       false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TrayState s;
    s.options = r.options;
    s.formVisible = r.visible;
    s.popupMenuSet = r.popup;
    s.popupHasDefaultItem = r.hasDefault;
    const TrayReaction a = ReactToTrayMouse(kLDbl, s);
    EXPECT_TRUE(a.raiseDblClick);
    EXPECT_EQ(a.restore, r.restore);
    EXPECT_EQ(a.minimize, r.minimize);
    EXPECT_EQ(a.clickDefaultItem, r.clickDefault);
  }
}

TEST(TrayText, CutToFieldAtACharacterBoundary) {
  EXPECT_EQ(FitTrayText(u"", 128), u"");
  EXPECT_EQ(FitTrayText(u"abc", 4), u"abc");
  EXPECT_EQ(FitTrayText(u"abcd", 4), u"abc");
  EXPECT_EQ(FitTrayText(u"abc", 0), u"");
  EXPECT_EQ(FitTrayText(u"abc", 1), u"");
  // U+1F600 is a surrogate pair; cutting between its halves drops both.
  const std::u16string pair = u"ab\U0001F600c";
  EXPECT_EQ(FitTrayText(pair, 4), u"ab");
  EXPECT_EQ(FitTrayText(pair, 5), u"ab\U0001F600");
  const std::u16string longTip(200, u'\u30bf');
  EXPECT_EQ(FitTrayText(longTip, 128).size(), 127u);
  EXPECT_EQ(FitTrayText(longTip, 64).size(), 63u);
}

TEST(TrayRecord, FlagsAndBalloonSupport) {
  EXPECT_EQ(TrayRecordFlags(false, false), 0x5u);
  EXPECT_EQ(TrayRecordFlags(false, true), 0x7u);
  EXPECT_EQ(TrayRecordFlags(true, true), 0x17u);
  struct Row {
    unsigned platform, major;
    bool balloon;
  } rows[] = {{2, 5, true}, {2, 10, true}, {2, 4, false}, {1, 5, false}, {0, 6, false}};
  for (const Row& r : rows) EXPECT_EQ(SupportsTrayBalloon(r.platform, r.major), r.balloon);
  EXPECT_EQ(TrayShiftFromKeys(true, true, true), kTrayShiftShift | kTrayShiftCtrl | kTrayShiftAlt);
  EXPECT_EQ(TrayShiftFromKeys(false, true, false), unsigned(kTrayShiftCtrl));
}

TEST(TrayAnimation, IndexWrapsOverThePictures) {
  int index = 0;
  std::vector<int> seen;
  for (int i = 0; i < 7; ++i) {
    seen.push_back(index);
    index = NextTrayImageIndex(index, 3);
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 0, 1, 2, 0}));
  EXPECT_EQ(NextTrayImageIndex(0, 1), 0);
  EXPECT_EQ(NextTrayImageIndex(0, 0), 0);
  EXPECT_EQ(NextTrayImageIndex(5, 3), 0);  // out of range after the list shrank
}

}  // namespace
}  // namespace tarnwick
