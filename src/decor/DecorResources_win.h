// The caption-button pictures compiled into the executable (decor.rc).
#pragma once

#include <windows.h>

#include "ui/Handle.h"

namespace tarnwick {

// The named bitmap of the executable; empty when it is not linked in, in
// which case the button shows its character instead.
UniqueBitmap LoadDecorBitmap(const wchar_t* name);

}  // namespace tarnwick
