// Decisions of the notification-area icon that need no shell: what a mouse
// callback does, how the notify record is flagged, how long texts are cut
// and how the animation index advances.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

// Option bits, one byte as stored.
enum TrayOption : std::uint8_t {
  kTrayHideOnRestore = 1,
  kTrayMinimizeToTray = 2,
  kTrayOneClickRestore = 4,
  kTrayDblClickRestore = 8,
  kTrayShowAtDesignTime = 16,
  kTrayShowMenuOnLeftClick = 32,
};

// Shift state handed to the mouse events.
enum TrayShift : unsigned {
  kTrayShiftShift = 1,
  kTrayShiftAlt = 2,
  kTrayShiftCtrl = 4,
  kTrayShiftLeft = 8,
  kTrayShiftRight = 16,
  kTrayShiftMiddle = 32,
};

enum class TrayMouseButton { Left, Right, Middle };
enum class TrayMouseEvent { None, Move, Down, Up };

struct TrayState {
  bool leftDown = false;  // the left button went down on the icon
  bool formVisible = true;
  std::uint8_t options = kTrayDblClickRestore | kTrayShowAtDesignTime;
  bool popupMenuSet = false;  // a popup menu is assigned and auto-pops
  bool popupHasDefaultItem = false;
};

struct TrayReaction {
  TrayMouseEvent event = TrayMouseEvent::None;
  TrayMouseButton button = TrayMouseButton::Left;
  unsigned shiftAdd = 0;  // button bit added to the keyboard shift state
  bool setForegroundApp = false;
  bool raiseClick = false;
  bool raiseDblClick = false;
  bool showPopup = false;
  bool clickDefaultItem = false;
  bool restore = false;
  bool minimize = false;
  bool leftDownAfter = false;
};

// Reaction to the callback message whose lParam is `mouseMessage`, in the
// order: mouse event, click event, popup, restore/minimise.
TrayReaction ReactToTrayMouse(unsigned mouseMessage, const TrayState& state);

// Keyboard part of the shift state.
unsigned TrayShiftFromKeys(bool shift, bool ctrl, bool alt);

// Text for a fixed field of `fieldUnits` UTF-16 units including the
// terminating zero: cut so that a surrogate pair is never split.
std::u16string FitTrayText(std::u16string_view text, std::size_t fieldUnits);

// Balloons exist on the NT family from major version 5 on.
bool SupportsTrayBalloon(unsigned platformId, unsigned majorVersion);

// NIF_* flags of a notify record.
unsigned TrayRecordFlags(bool withBalloon, bool iconVisible);

// Next picture of the icon animation over `count` pictures.
int NextTrayImageIndex(int index, int count);

}  // namespace tarnwick
