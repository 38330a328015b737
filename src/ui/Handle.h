// One move-only owner for every kind of Win32 handle, with a small traits
// type per resource that names its invalid value and how to free it.
#pragma once

#include <windows.h>

#include <utility>

namespace tarnwick {

template <typename Traits>
class UniqueHandle {
 public:
  using handle_type = typename Traits::handle_type;

  UniqueHandle() noexcept : handle_(Traits::Invalid()) {}
  explicit UniqueHandle(handle_type handle) noexcept : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  handle_type get() const noexcept { return handle_; }
  bool valid() const noexcept { return handle_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  handle_type release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
  void reset(handle_type handle = Traits::Invalid()) noexcept {
    handle_type old = std::exchange(handle_, handle);
    if (old != Traits::Invalid() && old != handle) Traits::Free(old);
  }

 private:
  handle_type handle_;
};

struct WindowTraits {
  using handle_type = HWND;
  static HWND Invalid() noexcept { return nullptr; }
  static void Free(HWND h) noexcept { ::DestroyWindow(h); }
};

template <typename T>
struct GdiObjectTraits {
  using handle_type = T;
  static T Invalid() noexcept { return nullptr; }
  static void Free(T h) noexcept { ::DeleteObject(h); }
};

struct MenuTraits {
  using handle_type = HMENU;
  static HMENU Invalid() noexcept { return nullptr; }
  static void Free(HMENU h) noexcept { ::DestroyMenu(h); }
};

struct IconTraits {
  using handle_type = HICON;
  static HICON Invalid() noexcept { return nullptr; }
  static void Free(HICON h) noexcept { ::DestroyIcon(h); }
};

struct ModuleTraits {
  using handle_type = HMODULE;
  static HMODULE Invalid() noexcept { return nullptr; }
  static void Free(HMODULE h) noexcept { ::FreeLibrary(h); }
};

using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniquePen = UniqueHandle<GdiObjectTraits<HPEN>>;
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits<HGDIOBJ>>;
using UniqueMenu = UniqueHandle<MenuTraits>;
using UniqueIcon = UniqueHandle<IconTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;

// A device context from GetDC or GetWindowDC must go back to ReleaseDC with
// the same window, so the owner remembers it.
class WindowDC {
 public:
  enum Area { Client, Whole };
  WindowDC() noexcept = default;
  WindowDC(HWND wnd, Area area) noexcept
      : wnd_(wnd), dc_(area == Client ? ::GetDC(wnd) : ::GetWindowDC(wnd)) {}
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  WindowDC(WindowDC&& other) noexcept
      : wnd_(std::exchange(other.wnd_, nullptr)), dc_(std::exchange(other.dc_, nullptr)) {}
  WindowDC& operator=(WindowDC&& other) noexcept {
    if (this != &other) {
      reset();
      wnd_ = std::exchange(other.wnd_, nullptr);
      dc_ = std::exchange(other.dc_, nullptr);
    }
    return *this;
  }
  ~WindowDC() { reset(); }

  HDC get() const noexcept { return dc_; }
  HWND window() const noexcept { return wnd_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }
  void reset() noexcept {
    if (dc_ != nullptr) ::ReleaseDC(wnd_, dc_);
    dc_ = nullptr;
    wnd_ = nullptr;
  }

 private:
  HWND wnd_ = nullptr;
  HDC dc_ = nullptr;
};

}  // namespace tarnwick
