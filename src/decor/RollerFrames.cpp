#include "decor/RollerFrames.h"

namespace tarnwick {
namespace {
constexpr int kHtLeft = 10;
constexpr int kHtBottomRight = 17;
constexpr int kHtBorder = 18;

int ClampSpeed(int speed) {
  if (speed < 0) return 0;
  if (speed > kMaxRollerSpeed) return kMaxRollerSpeed;
  return speed;
}
}  // namespace

int RollerDivisor(int speed) { return 3 * (11 - ClampSpeed(speed)); }

int RollerStep(int height, int speed) {
  const int step = height / RollerDivisor(speed);
  return step < 2 ? 2 : step;
}

std::vector<int> RollUpFrames(int savedHeight, int remain, int speed) {
  std::vector<int> frames;
  const int step = RollerStep(savedHeight, speed);
  int h = savedHeight + step;
  while (h > remain) {
    h -= step;
    if (h < remain) h = remain;
    frames.push_back(h);
  }
  return frames;
}

std::vector<int> RollDownFrames(int savedHeight, int remain, int speed) {
  if (remain > savedHeight) savedHeight = remain;
  std::vector<int> frames;
  const int step = RollerStep(savedHeight, speed);
  int h = remain - step;
  while (h < savedHeight) {
    h += step;
    if (h > savedHeight) h = savedHeight;
    frames.push_back(h);
  }
  return frames;
}

int RolledHeight(int cyCaption, int cyDlgFrame, int cyFrame, RollerBorder border, int remain) {
  int frame = cyFrame;
  switch (border) {
    case RollerBorder::Single:
    case RollerBorder::Dialog:
    case RollerBorder::ToolWindow:
      frame = cyDlgFrame;
      break;
    case RollerBorder::None:
    case RollerBorder::Sizeable:
    case RollerBorder::SizeToolWin:
      frame = cyFrame;
      break;
  }
  return cyCaption + frame + 3 + remain;
}

int RolledHitTestCode(int code) { return (code >= kHtLeft && code <= kHtBottomRight) ? kHtBorder : code; }

}  // namespace tarnwick
