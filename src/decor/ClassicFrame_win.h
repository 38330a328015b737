// Under desktop composition (Vista on) the system draws the title bar
// itself and never shows what the caption buttons paint into the frame,
// although the buttons still take clicks. A window that carries caption
// buttons therefore asks for the classic frame, which its own non-client
// painting draws.
#pragma once

#include <windows.h>

namespace tarnwick {

// True when the system took the request; false where it has no compositor
// function or refuses (Wine, for one), and then nothing changes.
bool UseClassicFrame(HWND wnd) noexcept;

}  // namespace tarnwick
