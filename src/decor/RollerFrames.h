// Arithmetic of the roll-up shade: the heights of the animation frames and
// the strip that stays visible. Pure so that the frame sequences can be
// pinned exactly.
#pragma once

#include <vector>

namespace tarnwick {

constexpr int kMaxRollerSpeed = 10;

// Frame count divisor: 33 at speed 0, 9 at speed 8, 3 at speed 10.
int RollerDivisor(int speed);
// Height change per frame, never below 2 so that small windows still move.
int RollerStep(int height, int speed);

// Client heights to set while rolling up from `savedHeight` to `remain`.
// The first frame repeats the starting height; the last lands on `remain`.
std::vector<int> RollUpFrames(int savedHeight, int remain, int speed);
// Client heights to set while rolling down from `remain` back to `saved`
// (a `remain` above `saved` becomes the target).
std::vector<int> RollDownFrames(int savedHeight, int remain, int speed);

enum class RollerBorder { Single, Dialog, ToolWindow, None, Sizeable, SizeToolWin };

// Window pixels from the top that stay visible when rolled up.
int RolledHeight(int cyCaption, int cyDlgFrame, int cyFrame, RollerBorder border, int remain);

// Hit-test codes of the sizing borders turn into the plain border while
// rolled up, so the shade cannot be dragged open.
int RolledHitTestCode(int code);

}  // namespace tarnwick
