// Finding this test's own top-level windows by title. Tests run side by side
// on one desktop, so a desktop-wide search could find another test's dialog.
#pragma once

#include <windows.h>

#include <string>

namespace tarnwick::testing_support {

struct TitleSearch {
  const wchar_t* title;
  HWND found;
};

inline BOOL CALLBACK MatchTitle(HWND w, LPARAM p) {
  auto* search = reinterpret_cast<TitleSearch*>(p);
  wchar_t text[256] = {};
  ::GetWindowTextW(w, text, 256);
  if (std::wstring(text) != search->title) return TRUE;
  search->found = w;
  return FALSE;
}

// The first top-level window of the calling thread with exactly this title.
inline HWND FindThreadWindow(const wchar_t* title) {
  TitleSearch search{title, nullptr};
  ::EnumThreadWindows(::GetCurrentThreadId(), &MatchTitle, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace tarnwick::testing_support
