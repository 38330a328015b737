#include "decor/CaptionLayout.h"

namespace tarnwick {

int MoveTargetIndex(int current, int requested, int count) {
  if (current < 0 || count <= 0) return -1;
  int target = requested;
  if (target < 0) target = 0;
  if (target >= count) target = count - 1;
  return target == current ? -1 : target;
}

void AssignRightOffsets(std::vector<LayoutSlot>& slots, int buttonWidth) {
  // Each button is drawn w - 2 wide and advances by as much, so neighbours
  // touch unless a separator adds a gap on a button's right side.
  int offset = 2;
  for (LayoutSlot& slot : slots) {
    if (!slot.visible) continue;
    offset += slot.separatorWidth + buttonWidth - 2;
    slot.rightOffset = offset;
  }
}

bool IsToolWindow(std::uint32_t exStyle) { return (exStyle & caption_style::kExToolWindow) != 0; }

int CaptionButtonWidth(const FrameMetrics& m, std::uint32_t exStyle) {
  return IsToolWindow(exStyle) ? m.cxSmSize : m.cxSize;
}

ButtonPlacement PlaceButton(const FrameMetrics& m, const WindowShape& shape, int rightOffset) {
  using namespace caption_style;
  ButtonPlacement p;
  if ((shape.style & kCaption) != kCaption) return p;
  int width = shape.windowWidth;
  int cx, cy;
  if (IsToolWindow(shape.exStyle)) {
    cx = m.cxSmSize;
    cy = m.cySmSize;
  } else {
    cx = m.cxSize;
    cy = m.cySize;
    const bool hasMinMax = (shape.style & (kMinimizeBox | kMaximizeBox)) != 0;
    if (!hasMinMax && (shape.exStyle & kExContextHelp) != 0) width -= cx;  // help button
    if (hasMinMax) width -= 2 * cx;
  }
  if (shape.style & kSysMenu) width -= cx;  // close button
  int fx, fy;
  if (shape.iconic) {
    fx = m.cxDlgFrame;
    fy = m.cyDlgFrame;
  } else if (shape.style & kThickFrame) {
    fx = m.cxFrame;
    fy = m.cyFrame;
  } else {
    fx = m.cxDlgFrame;
    fy = m.cyDlgFrame;
  }
  const int w = cx - 5;
  const int h = cy - 7;
  p.paintable = true;
  p.cx = cx;
  p.glyphWidth = w;
  p.glyphHeight = h;
  p.rectLeft = width - rightOffset - (fx - 2) - (fy + 2);
  p.rectTop = fy + 2;
  p.rectRight = p.rectLeft + w + 3;
  p.blitX = p.rectLeft + fy + 2;
  p.blitY = fy + 2;
  p.imageWidth = w + 3;
  p.imageHeight = h + 3;
  return p;
}

bool HitsButton(const ButtonPlacement& p, int clientX, int clientY) {
  return p.rectLeft < clientX && clientX <= p.rectRight + 1 && clientY < 0;
}

bool LeftCaptionBand(int clientY, int band) { return clientY >= 0 || clientY < -(band + 1); }

ToolRect TooltipRect(const ButtonPlacement& p, int captionHeight, int menuHeight, bool active) {
  ToolRect r;
  if (!active) return r;
  r.left = p.rectLeft + 1;
  r.top = -captionHeight;
  r.right = p.rectRight + 1;
  r.bottom = 0;
  if (menuHeight > 0) {
    r.top -= menuHeight;
    r.bottom = -menuHeight;
  }
  return r;
}

int StockCursorResource(int cursorId) {
  constexpr int kArrow = 32512;
  struct Entry {
    int id;
    int resource;
  };
  static constexpr Entry kStock[] = {
      {0, kArrow},  {-2, kArrow}, {-3, 32515},  {-4, 32513},  {-6, 32643},
      {-7, 32645},  {-8, 32642},  {-9, 32644},  {-10, 32516}, {-11, 32514},
      {-12, 32648}, {-19, 32650}, {-20, 32651}, {-21, 32649}, {-22, 32646},
  };
  for (const Entry& e : kStock) {
    if (e.id == cursorId) return e.resource;
  }
  return kArrow;
}

}  // namespace tarnwick
