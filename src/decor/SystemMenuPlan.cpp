#include "decor/SystemMenuPlan.h"

namespace tarnwick {

std::vector<MenuInsertStep> PlanMenuInsert(int position, int itemCount, bool separatorBefore,
                                           bool separatorAfter) {
  int p = position;
  // A position past the end would leave the item nowhere; it goes last.
  if (p > itemCount + 1) p = itemCount;
  if (p < 0) p = 0;
  std::vector<MenuInsertStep> steps;
  steps.push_back({MenuEntryKind::Item, p});
  if (separatorBefore) {
    steps.push_back({MenuEntryKind::SeparatorBefore, p});
    p += 2;
  } else {
    p += 1;
  }
  if (separatorAfter) steps.push_back({MenuEntryKind::SeparatorAfter, p});
  return steps;
}

}  // namespace tarnwick
