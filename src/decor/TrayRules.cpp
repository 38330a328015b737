#include "decor/TrayRules.h"

namespace tarnwick {
namespace {
constexpr unsigned kMouseMove = 0x200;
constexpr unsigned kLButtonDown = 0x201;
constexpr unsigned kLButtonUp = 0x202;
constexpr unsigned kLButtonDblClk = 0x203;
constexpr unsigned kRButtonDown = 0x204;
constexpr unsigned kRButtonUp = 0x205;
constexpr unsigned kMButtonDown = 0x207;
constexpr unsigned kMButtonUp = 0x208;
}  // namespace

TrayReaction ReactToTrayMouse(unsigned mouseMessage, const TrayState& state) {
  TrayReaction r;
  r.leftDownAfter = state.leftDown;
  switch (mouseMessage) {
    case kMouseMove:
      r.event = TrayMouseEvent::Move;
      break;
    case kLButtonDown:
      r.event = TrayMouseEvent::Down;
      r.shiftAdd = kTrayShiftLeft;
      r.leftDownAfter = true;
      break;
    case kLButtonUp:
      r.event = TrayMouseEvent::Up;
      r.shiftAdd = kTrayShiftLeft;
      r.setForegroundApp = true;
      // Only a press that started on the icon makes a click.
      if (state.leftDown) {
        r.raiseClick = true;
        r.showPopup = (state.options & kTrayShowMenuOnLeftClick) != 0;
        r.restore = (state.options & kTrayOneClickRestore) != 0 && !state.formVisible;
      }
      r.leftDownAfter = false;
      break;
    case kLButtonDblClk:
      r.raiseDblClick = true;
      if (state.popupMenuSet && (state.options & kTrayShowMenuOnLeftClick) == 0 &&
          state.popupHasDefaultItem) {
        r.clickDefaultItem = true;
        break;
      }
      if (state.options & kTrayDblClickRestore) {
        if (state.formVisible && (state.options & kTrayMinimizeToTray) != 0)
          r.minimize = true;
        else
          r.restore = true;
      }
      break;
    case kRButtonDown:
      r.event = TrayMouseEvent::Down;
      r.button = TrayMouseButton::Right;
      r.shiftAdd = kTrayShiftRight;
      break;
    case kRButtonUp:
      r.event = TrayMouseEvent::Up;
      r.button = TrayMouseButton::Right;
      r.shiftAdd = kTrayShiftRight;
      r.setForegroundApp = true;
      r.showPopup = true;
      break;
    case kMButtonDown:
      r.event = TrayMouseEvent::Down;
      r.button = TrayMouseButton::Middle;
      r.shiftAdd = kTrayShiftMiddle;
      break;
    case kMButtonUp:
      r.event = TrayMouseEvent::Up;
      r.button = TrayMouseButton::Middle;
      r.shiftAdd = kTrayShiftMiddle;
      r.setForegroundApp = true;
      break;
    default:
      break;
  }
  return r;
}

unsigned TrayShiftFromKeys(bool shift, bool ctrl, bool alt) {
  return (shift ? kTrayShiftShift : 0u) | (ctrl ? kTrayShiftCtrl : 0u) | (alt ? kTrayShiftAlt : 0u);
}

std::u16string FitTrayText(std::u16string_view text, std::size_t fieldUnits) {
  if (fieldUnits == 0) return {};
  std::size_t keep = text.size();
  if (keep > fieldUnits - 1) {
    keep = fieldUnits - 1;
    // Never leave half of a surrogate pair behind.
    if (keep > 0) {
      const char16_t last = text[keep - 1];
      if (last >= 0xD800 && last <= 0xDBFF) --keep;
    }
  }
  return std::u16string(text.substr(0, keep));
}

bool SupportsTrayBalloon(unsigned platformId, unsigned majorVersion) {
  return platformId == 2 && majorVersion >= 5;
}

unsigned TrayRecordFlags(bool withBalloon, bool iconVisible) {
  unsigned flags = 0x1 | 0x4;  // NIF_MESSAGE | NIF_ICON
  if (withBalloon) flags |= 0x10;
  if (iconVisible) flags |= 0x2;
  return flags;
}

int NextTrayImageIndex(int index, int count) { return index < count - 1 ? index + 1 : 0; }

}  // namespace tarnwick
