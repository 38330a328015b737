// Windows functions that only some of the systems the program runs on
// have. They are looked up once, by name, from one list, so a caller tests
// a pointer instead of a version number, and the values the mingw headers
// lack are spelled out here and nowhere else.
#pragma once

#include <windows.h>

namespace tarnwick {

struct OptionalApi {
  // dwmapi.dll, from Vista on: attributes of a window under desktop
  // composition.
  HRESULT(WINAPI* DwmSetWindowAttribute)(HWND, DWORD, LPCVOID, DWORD) = nullptr;
};

// The table, filled on first use; an entry whose library or function the
// system lacks stays null. Tests may put their own functions in (and must
// put the originals back).
OptionalApi& OptionalFunctions();

// DWMWA_NCRENDERING_POLICY and its DWMNCRP_DISABLED value: the frame is
// painted the classic way, by the window's own non-client painting.
inline constexpr DWORD kDwmNonClientRenderingPolicy = 2;
inline constexpr DWORD kDwmNonClientRenderingDisabled = 1;

}  // namespace tarnwick
