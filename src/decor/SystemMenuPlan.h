// Where a caption button's mirror item and its separators go in the
// system menu. The Win32 side replays the steps with InsertMenuItemW.
#pragma once

#include <vector>

namespace tarnwick {

enum class MenuEntryKind { Item, SeparatorBefore, SeparatorAfter };

struct MenuInsertStep {
  MenuEntryKind kind;
  int position;  // by position, in the menu as it is when the step runs
  bool operator==(const MenuInsertStep& o) const { return kind == o.kind && position == o.position; }
};

// The item goes in first; a leading separator is then inserted at the same
// position so that it ends up in front of the item.
std::vector<MenuInsertStep> PlanMenuInsert(int position, int itemCount, bool separatorBefore,
                                           bool separatorAfter);

}  // namespace tarnwick
