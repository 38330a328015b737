#include "crash/DialogLayout.h"

#include <algorithm>
#include <utility>

namespace tarnwick {

namespace {
constexpr int kDesignWidth = 466;
constexpr int kDesignHeight = 252;

LayoutRect Rect(int left, int top, int width, int height) noexcept {
  return {left, top, std::max(width, 0), std::max(height, 0)};
}
}  // namespace

ReportDialogLayout LayoutReportDialog(int w, int h) noexcept {
  const int d = w - kDesignWidth;
  ReportDialogLayout layout;
  layout.report = Rect(8, 80, 451 + d, h + 131 - kDesignHeight);
  layout.explanation = Rect(48, 8, 410 + d, 54);
  layout.button = Rect((w - 75) / 2, h - 32, 75, 25);
  return layout;
}

LayoutRect ReportLabelRect(int pixelsPerInchY) noexcept {
  // Rounded to nearest, halves away from zero.
  const int h = (13 * pixelsPerInchY + 48) / 96;
  return {8, 78 - h, 500, h};
}

DialogGeometry DefaultDialogGeometry(int screenWidth, int screenHeight) noexcept {
  DialogGeometry g;
  g.left = (screenWidth - g.width) / 2;
  g.top = (screenHeight - g.height) / 2;
  return g;
}

int RecordedShowState(bool maximised, bool minimised) noexcept {
  if (maximised) return 3;
  if (minimised) return 6;
  return 1;
}

int UsableShowState(int stored) noexcept { return stored == 3 || stored == 6 ? stored : 1; }

DialogGeometry KeepInsideWorkArea(DialogGeometry g, const ScreenRect& area) noexcept {
  // Edges as 64-bit values: a hand-edited profile can hold any int.
  const long long areaWidth = std::max(0LL, static_cast<long long>(area.right) - area.left);
  const long long areaHeight = std::max(0LL, static_cast<long long>(area.bottom) - area.top);
  const auto fit = [](long long start, long long size, long long areaStart, long long areaSize) {
    const long long fitted = std::min(std::max(size, 0LL), areaSize);
    const long long at = std::min(std::max(start, areaStart), areaStart + areaSize - fitted);
    return std::pair<long long, long long>{at, fitted};
  };
  const auto [left, width] = fit(g.left, g.width, area.left, areaWidth);
  const auto [top, height] = fit(g.top, g.height, area.top, areaHeight);
  g.left = static_cast<int>(left);
  g.width = static_cast<int>(width);
  g.top = static_cast<int>(top);
  g.height = static_cast<int>(height);
  return g;
}

}  // namespace tarnwick
