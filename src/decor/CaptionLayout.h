// Geometry and ordering rules of the extra title-bar buttons, kept free of
// any window-system call so that they can be checked on every platform.
// The Win32 side feeds in system metrics and window styles and paints or
// hit-tests with the results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnwick {

// Style bits the placement depends on (values of the Win32 constants).
namespace caption_style {
constexpr std::uint32_t kCaption = 0x00C00000;        // WS_CAPTION (border + title)
constexpr std::uint32_t kSysMenu = 0x00080000;        // WS_SYSMENU
constexpr std::uint32_t kThickFrame = 0x00040000;     // WS_THICKFRAME
constexpr std::uint32_t kMinimizeBox = 0x00020000;    // WS_MINIMIZEBOX
constexpr std::uint32_t kMaximizeBox = 0x00010000;    // WS_MAXIMIZEBOX
constexpr std::uint32_t kExToolWindow = 0x00000080;   // WS_EX_TOOLWINDOW
constexpr std::uint32_t kExContextHelp = 0x00000400;  // WS_EX_CONTEXTHELP
}  // namespace caption_style

// The first button id handed out; ids double as hit-test codes and
// system-menu command ids, so they must stay clear of both ranges.
constexpr int kFirstCaptionButtonId = 5734;
constexpr int kSeparatorBeforeIdDelta = 1000;
constexpr int kSeparatorAfterIdDelta = 2000;

// The published SeparatorWidth is an int but the gap is kept in one byte.
constexpr std::uint8_t StoredSeparatorWidth(int value) { return static_cast<std::uint8_t>(value & 0xFF); }

// Index a button lands on when its order is set at run time, or -1 when
// nothing moves (not in a list, or already there).
int MoveTargetIndex(int current, int requested, int count);

// Stable bubble sort by pending order (-1 = never read, sorts first).
// Returns true when anything moved. `keys` and `items` move together.
template <typename T>
bool SortByPendingOrder(std::vector<T>& items, std::vector<int>& keys) {
  bool movedAny = false;
  bool swapped = true;
  while (swapped) {
    swapped = false;
    for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
      if (keys[i] > keys[i + 1]) {
        std::swap(keys[i], keys[i + 1]);
        std::swap(items[i], items[i + 1]);
        swapped = movedAny = true;
      }
    }
  }
  return movedAny;
}

struct LayoutSlot {
  bool visible = true;
  std::uint8_t separatorWidth = 0;
  int rightOffset = 0;  // in: the old offset; out: the new one
};

// Offsets from the standard buttons, nearest first. Hidden buttons take no
// room and keep their previous offset.
void AssignRightOffsets(std::vector<LayoutSlot>& slots, int buttonWidth);

struct FrameMetrics {
  int cxSize = 0, cySize = 0;          // SM_CXSIZE / SM_CYSIZE
  int cxSmSize = 0, cySmSize = 0;      // SM_CXSMSIZE / SM_CYSMSIZE
  int cxFrame = 0, cyFrame = 0;        // SM_CXFRAME / SM_CYFRAME
  int cxDlgFrame = 0, cyDlgFrame = 0;  // SM_CXDLGFRAME / SM_CYDLGFRAME
};

struct WindowShape {
  int windowWidth = 0;  // from GetWindowRect
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  bool iconic = false;
};

struct ButtonPlacement {
  bool paintable = false;  // false: no title bar to paint into
  // Hit rectangle in the same (odd) frame of reference the hit test and the
  // tooltip use; its bottom is never consulted.
  int rectLeft = 0, rectTop = 0, rectRight = 0;
  // Where the bitmap goes in window coordinates and how large it is.
  int blitX = 0, blitY = 0, imageWidth = 0, imageHeight = 0;
  int glyphWidth = 0, glyphHeight = 0;  // w and h of the drawing rules
  int cx = 0;                           // button cell width used for the character
};

bool IsToolWindow(std::uint32_t exStyle);
int CaptionButtonWidth(const FrameMetrics& m, std::uint32_t exStyle);
ButtonPlacement PlaceButton(const FrameMetrics& m, const WindowShape& shape, int rightOffset);

// The pointer at client (x, y) is over the button drawn at `p`.
bool HitsButton(const ButtonPlacement& p, int clientX, int clientY);

// While pressed: the pointer has left the caption band (band = caption
// height plus the menu bar when there is one).
bool LeftCaptionBand(int clientY, int band);

struct ToolRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const ToolRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

// Tooltip area in client coordinates; an empty rectangle never shows.
ToolRect TooltipRect(const ButtonPlacement& p, int captionHeight, int menuHeight, bool active);

// System cursor resource (the IDC_* number) for a cursor id of the
// component settings: 0 is the default arrow, negative ids name the stock
// cursors. Unknown ids fall back to the arrow.
int StockCursorResource(int cursorId);

}  // namespace tarnwick
