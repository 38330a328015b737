// The form definitions of the program's three windows: every control with
// its position, caption or initial text, font, colour and tab order.
#pragma once

#include <string>
#include <vector>

#include "ui/FormDef.h"

namespace tarnwick {

inline const char kFaceHalfWidth[] = "MS P ゴシック";
inline const char kFaceFullWidth[] = "ＭＳ Ｐゴシック";
inline constexpr Color kPanelColor = Color::FromRgb(240, 231, 187);

const FormDef& MainFormDefinition();
const FormDef& ConfirmFormDefinition();
const FormDef& AboutFormDefinition();

// The six lines of the send warning.
const std::vector<std::string>& ConfirmationLines();
// The fixed text of the About dialog, one entry per line (78 lines).
const std::vector<std::string>& AboutLines();

}  // namespace tarnwick
