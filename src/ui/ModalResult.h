// The rules by which a modal form decides its result and when its loop ends.
#pragma once

namespace tarnwick {

enum ModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2 };

// Closing a modal form from its title bar (or Alt+F4, or the system menu)
// counts as Cancel unless a result was already chosen.
constexpr int ModalResultOnClose(int current) noexcept { return current == mrNone ? mrCancel : current; }

// A button with a modal result hands it to its form when clicked; a button
// without one leaves the form's result alone.
constexpr int ModalResultOnButton(int buttonResult, int formResult) noexcept {
  return buttonResult != mrNone ? buttonResult : formResult;
}

// The modal loop runs while no result is chosen; it also ends when the
// application is terminating, and then reports Cancel.
constexpr bool ModalLoopEnds(int result, bool terminated) noexcept { return result != mrNone || terminated; }
constexpr int ModalFinalResult(int result, bool terminated) noexcept {
  return result == mrNone && terminated ? mrCancel : result;
}

}  // namespace tarnwick
