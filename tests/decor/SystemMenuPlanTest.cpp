#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decor/SystemMenuPlan.h"

namespace tarnwick {
namespace {

// Replays the steps on a list of names, as InsertMenuItem by position does.
std::vector<std::string> Replay(std::vector<std::string> menu, const std::vector<MenuInsertStep>& steps) {
  for (const MenuInsertStep& s : steps) {
    const char* name = s.kind == MenuEntryKind::Item              ? "item"
                       : s.kind == MenuEntryKind::SeparatorBefore ? "-before"
                                                                  : "-after";
    const auto at =
        static_cast<std::size_t>(s.position) > menu.size() ? menu.end() : menu.begin() + s.position;
    menu.insert(at, name);
  }
  return menu;
}

const std::vector<std::string> kStandardMenu{"restore", "move", "size", "min", "max", "-", "close"};

TEST(SystemMenuPlan, SeparatorBeforeAtIndexSevenAndItemAtEight) {
  const auto menu = Replay(kStandardMenu, PlanMenuInsert(7, 7, true, false));
  ASSERT_EQ(menu.size(), 9u);
  EXPECT_EQ(menu[7], "-before");
  EXPECT_EQ(menu[8], "item");
}

TEST(SystemMenuPlan, PositionsPastTheEndGoLast) {
  struct Row {
    int position;
    std::size_t itemIndex;
  } rows[] = {{20, 7}, {9, 7}, {8, 7}, {7, 7}, {0, 0}, {3, 3}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.position);
    const auto menu = Replay(kStandardMenu, PlanMenuInsert(r.position, 7, false, false));
    EXPECT_EQ(menu[r.itemIndex], "item");
  }
  EXPECT_EQ(PlanMenuInsert(20, 7, false, false)[0].position, 7);
  // Exactly one past the end is passed through: the menu appends it.
  EXPECT_EQ(PlanMenuInsert(8, 7, false, false)[0].position, 8);
}

TEST(SystemMenuPlan, BothSeparatorsSurroundTheItem) {
  const auto menu = Replay(kStandardMenu, PlanMenuInsert(2, 7, true, true));
  EXPECT_EQ((std::vector<std::string>(menu.begin() + 2, menu.begin() + 5)),
            (std::vector<std::string>{"-before", "item", "-after"}));
  const auto afterOnly = Replay(kStandardMenu, PlanMenuInsert(2, 7, false, true));
  EXPECT_EQ(afterOnly[2], "item");
  EXPECT_EQ(afterOnly[3], "-after");
  EXPECT_EQ(afterOnly.size(), 9u);
}

}  // namespace
}  // namespace tarnwick
