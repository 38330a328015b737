// Geometry of forms without Win32: docking of children inside a parent's
// client area, centring on the screen, tab sequence. The windows apply the
// numbers; the arithmetic is tested on its own.
#pragma once

#include <vector>

namespace tarnwick {

struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
  int right() const noexcept { return left + width; }
  int bottom() const noexcept { return top + height; }
  bool operator==(const Rect& o) const noexcept {
    return left == o.left && top == o.top && width == o.width && height == o.height;
  }
};

enum class Align { None, Top, Bottom, Left, Right, Client };

struct AlignItem {
  Align align = Align::None;
  Rect bounds;  // as designed; the docked edge(s) are replaced by the layout
};

// Places docked children the way a form does: the top-docked ones first
// (in list order, each below the previous), then bottom, left, right, and
// finally the client-docked ones fill what is left. A child keeps its own
// extent across the docked edge (height for Top/Bottom, width for
// Left/Right); when the space runs out, extents shrink to zero, never
// below. Undocked children keep their bounds.
std::vector<Rect> AlignChildren(const Rect& client, const std::vector<AlignItem>& items);

// Top-left corner that centres a window of the given outer size on a
// screen; a window larger than the screen is put at 0 on that axis so its
// title bar stays reachable.
struct Point {
  int x = 0, y = 0;
};
Point CenterOnScreen(int screenWidth, int screenHeight, int width, int height) noexcept;

// Order in which sibling controls are reached by Tab: ascending tab order,
// ties kept in list order; controls with a negative tab order are not tab
// stops and are left out. Returns indices into `tabOrders`.
std::vector<std::size_t> TabSequence(const std::vector<int>& tabOrders);

// The accelerator letter of a caption ("ファイルを受信(&R)" -> 'R'), upper
// case for ASCII letters; "&&" is a literal ampersand. 0 when there is none.
// Captions are UTF-8.
char32_t MnemonicOf(const char* caption) noexcept;

}  // namespace tarnwick
