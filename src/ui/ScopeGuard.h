// Guards for Win32 calls that come in pairs: whatever leaves the scope
// (return or exception), the second call is made.
#pragma once

#include <windows.h>

namespace tarnwick {

// SelectObject now, the previous object back at the end.
class SelectGuard {
 public:
  SelectGuard(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(::SelectObject(dc, object)) {}
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;
  ~SelectGuard() {
    if (old_ != nullptr && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
  }
  HGDIOBJ previous() const noexcept { return old_; }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// BeginPaint / EndPaint.
class PaintGuard {
 public:
  explicit PaintGuard(HWND wnd) noexcept : wnd_(wnd), dc_(::BeginPaint(wnd, &ps_)) {}
  PaintGuard(const PaintGuard&) = delete;
  PaintGuard& operator=(const PaintGuard&) = delete;
  ~PaintGuard() { ::EndPaint(wnd_, &ps_); }
  HDC dc() const noexcept { return dc_; }
  const PAINTSTRUCT& paint() const noexcept { return ps_; }

 private:
  HWND wnd_;
  PAINTSTRUCT ps_{};
  HDC dc_;
};

// SetCapture / ReleaseCapture, the latter only if we still hold the capture.
class CaptureGuard {
 public:
  explicit CaptureGuard(HWND wnd) noexcept : wnd_(wnd) { ::SetCapture(wnd); }
  CaptureGuard(const CaptureGuard&) = delete;
  CaptureGuard& operator=(const CaptureGuard&) = delete;
  ~CaptureGuard() {
    if (::GetCapture() == wnd_) ::ReleaseCapture();
  }

 private:
  HWND wnd_;
};

}  // namespace tarnwick
