// Fonts by definition: each distinct face/height/underline/charset is created
// once for the process and shared by every control that uses it.
#pragma once

#include <windows.h>

#include "ui/FormDef.h"

namespace tarnwick {

// The shared font for `def` (never null; falls back to the GUI font when the
// face cannot be created). Lives until the process ends.
HFONT FontFor(const FontDef& def);

// Pixel size of `text` drawn in `font`.
SIZE MeasureText(HFONT font, const std::wstring& text);

}  // namespace tarnwick
