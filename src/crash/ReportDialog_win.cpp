#include <windows.h>

#include <string>

#include "crash/CrashFiles.h"
#include "crash/DialogLayout.h"
#include "crash/ReportDialog.h"

namespace tarnwick {

namespace {

constexpr int kExplanationId = 101;
constexpr int kLabelId = 102;
constexpr int kReportId = 103;
constexpr int kButtonId = 2;
const wchar_t kProfile[] = L"CrashReport.ini";
// Some window systems settle a new window's first placement a moment after
// it is shown and undo a maximised or minimised state given at creation;
// the stored state is applied again once that has happened.
constexpr UINT_PTR kSettleTimer = 1;
constexpr UINT kSettleDelay = 300;
const wchar_t kSection[] = L"Coordinates";

struct DialogState {
  const ReportDialogTexts* texts = nullptr;
  HBITMAP picture = nullptr;
  HFONT font = nullptr;
  DialogGeometry geometry;
  int openedState = 1;  // the show state read from the profile
};

int ReadInt(const wchar_t* key, int fallback) { return ReadProfileInt(kProfile, kSection, key, fallback); }

// The work area of the monitor nearest to the stored rectangle; the primary
// screen when the system cannot tell.
ScreenRect NearestWorkArea(const DialogGeometry& g) {
  RECT wanted{g.left, g.top, g.left + g.width, g.top + g.height};
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (HMONITOR monitor = MonitorFromRect(&wanted, MONITOR_DEFAULTTONEAREST);
      monitor != nullptr && GetMonitorInfoW(monitor, &info))
    return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
  return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

int ScreenDpiY() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

void Place(HWND dialog, int id, const LayoutRect& r) {
  if (HWND control = GetDlgItem(dialog, id)) MoveWindow(control, r.left, r.top, r.width, r.height, TRUE);
}

void Open(HWND dialog, DialogState& state) {
  const ReportDialogTexts& t = *state.texts;
  state.picture = static_cast<HBITMAP>(
      LoadImageW(GetModuleHandleW(nullptr), L"CPU", IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  SetDlgItemTextW(dialog, kExplanationId, t.explanation.c_str());
  SetDlgItemTextW(dialog, kLabelId, t.label.c_str());
  const int dpi = ScreenDpiY();
  state.font = CreateFontW(-MulDiv(8, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN,
                           L"Courier New");
  if (state.font != nullptr)
    SendDlgItemMessageW(dialog, kReportId, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), FALSE);
  SetDlgItemTextW(dialog, kReportId, t.report.c_str());
  SetDlgItemTextW(dialog, kButtonId, t.button.c_str());
  SetWindowTextW(dialog, t.caption.c_str());
  Place(dialog, kLabelId, ReportLabelRect(dpi));

  const DialogGeometry defaults =
      DefaultDialogGeometry(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  DialogGeometry g;
  g.width = ReadInt(L"Width", defaults.width);
  g.height = ReadInt(L"Height", defaults.height);
  g.left = ReadInt(L"Left", (GetSystemMetrics(SM_CXSCREEN) - g.width) / 2);
  g.top = ReadInt(L"Top", (GetSystemMetrics(SM_CYSCREEN) - g.height) / 2);
  g.showState = UsableShowState(ReadInt(L"WindowsState", defaults.showState));
  g = KeepInsideWorkArea(g, NearestWorkArea(g));
  state.geometry = g;
  MoveWindow(dialog, g.left, g.top, g.width, g.height, TRUE);
  ShowWindow(dialog, g.showState);
  state.openedState = g.showState;
  if (g.showState != 1) SetTimer(dialog, kSettleTimer, kSettleDelay, nullptr);
}

void Settle(HWND dialog, const DialogState& state) {
  KillTimer(dialog, kSettleTimer);
  if (state.openedState == 3 && !IsZoomed(dialog)) ShowWindow(dialog, SW_SHOWMAXIMIZED);
  if (state.openedState == 6 && !IsIconic(dialog)) ShowWindow(dialog, SW_MINIMIZE);
}

void Paint(HWND dialog, const DialogState& state) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(dialog, &ps);
  if (dc != nullptr && state.picture != nullptr) {
    HDC memory = CreateCompatibleDC(dc);
    if (memory != nullptr) {
      HGDIOBJ old = SelectObject(memory, state.picture);
      BITMAP info{};
      GetObjectW(state.picture, sizeof info, &info);
      StretchBlt(dc, 8, 8, 32, 32, memory, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
      SelectObject(memory, old);
      DeleteDC(memory);
    }
  }
  EndPaint(dialog, &ps);
}

void Resize(HWND dialog, DialogState& state, WPARAM kind, int width, int height) {
  const ReportDialogLayout layout = LayoutReportDialog(width, height);
  Place(dialog, kReportId, layout.report);
  Place(dialog, kExplanationId, layout.explanation);
  Place(dialog, kButtonId, layout.button);
  state.geometry.showState = RecordedShowState(kind == SIZE_MAXIMIZED, kind == SIZE_MINIMIZED);
  if (state.geometry.showState == 1) {
    RECT r;
    if (GetWindowRect(dialog, &r)) {
      state.geometry.width = r.right - r.left;
      state.geometry.height = r.bottom - r.top;
    }
  }
  InvalidateRect(dialog, nullptr, TRUE);
}

void Moved(HWND dialog, DialogState& state) {
  // A minimised window sits far off screen: remembering that position would
  // open the next report where nobody can see it.
  if (IsZoomed(dialog) || IsIconic(dialog)) return;
  RECT r;
  if (GetWindowRect(dialog, &r)) {
    state.geometry.left = r.left;
    state.geometry.top = r.top;
  }
}

void Close(DialogState& state) {
  if (state.picture != nullptr) DeleteObject(state.picture);
  if (state.font != nullptr) DeleteObject(state.font);
  state.picture = nullptr;
  state.font = nullptr;
  WriteProfileValues(kProfile, kSection,
                     {{L"Width", state.geometry.width},
                      {L"Height", state.geometry.height},
                      {L"Left", state.geometry.left},
                      {L"Top", state.geometry.top},
                      {L"WindowsState", state.geometry.showState}});
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      state = reinterpret_cast<DialogState*>(lParam);
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      Open(dialog, *state);
      return TRUE;
    case WM_PAINT:
      if (state == nullptr) break;
      Paint(dialog, *state);
      return TRUE;
    case WM_SIZE:
      if (state == nullptr) break;
      Resize(dialog, *state, wParam, LOWORD(lParam), HIWORD(lParam));
      return TRUE;
    case WM_MOVE:
      if (state == nullptr) break;
      Moved(dialog, *state);
      return TRUE;
    case WM_TIMER:
      if (wParam == kSettleTimer && state != nullptr) Settle(dialog, *state);
      return TRUE;
    case WM_COMMAND:
      // The button has identifier 2, which is also what Escape sends.
      if (LOWORD(wParam) == kButtonId) EndDialog(dialog, kButtonId);
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, kButtonId);
      return TRUE;
    case WM_DESTROY:
      if (state != nullptr) Close(*state);
      return TRUE;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

void ShowReportDialog(const ReportDialogTexts& texts, bool ownerless) {
  DialogState state;
  state.texts = &texts;
  DialogBoxParamW(GetModuleHandleW(nullptr), L"DIALOG", ownerless ? nullptr : GetForegroundWindow(),
                  &DialogProc, reinterpret_cast<LPARAM>(&state));
}

}  // namespace tarnwick
