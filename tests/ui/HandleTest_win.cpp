// Each owner frees exactly what it holds, once; each guard undoes its call.
#include <gtest/gtest.h>

#include "ui/Handle.h"
#include "ui/ScopeGuard.h"

namespace tarnwick {
namespace {

HWND PlainWindow() {
  return ::CreateWindowExW(0, L"STATIC", L"probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
}

TEST(UniqueHandle, WindowIsDestroyedOnResetAndMovesWithoutDoubleFree) {
  HWND raw = PlainWindow();
  ASSERT_TRUE(::IsWindow(raw));
  UniqueWindow a(raw);
  UniqueWindow b(std::move(a));
  EXPECT_FALSE(a.valid());
  EXPECT_EQ(b.get(), raw);
  a = std::move(b);
  EXPECT_TRUE(::IsWindow(raw));
  a.reset();
  EXPECT_FALSE(::IsWindow(raw));
  EXPECT_FALSE(a);
}

TEST(UniqueHandle, ReleaseHandsOwnershipBack) {
  HWND raw = PlainWindow();
  {
    UniqueWindow w(raw);
    EXPECT_EQ(w.release(), raw);
  }
  EXPECT_TRUE(::IsWindow(raw));
  ::DestroyWindow(raw);
}

TEST(UniqueHandle, GdiMenuAndIconObjectsAreFreed) {
  HFONT font = ::CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
  HBRUSH brush = ::CreateSolidBrush(RGB(1, 2, 3));
  HMENU menu = ::CreatePopupMenu();
  HICON icon = ::CopyIcon(::LoadIconW(nullptr, IDI_APPLICATION));
  ASSERT_NE(::GetObjectType(font), 0u);
  ASSERT_NE(::GetObjectType(brush), 0u);
  ASSERT_TRUE(::IsMenu(menu));
  ASSERT_NE(icon, nullptr);
  {
    UniqueFont f(font);
    UniqueBrush b(brush);
    UniqueMenu m(menu);
    UniqueIcon i(icon);
  }
  EXPECT_EQ(::GetObjectType(font), 0u);
  EXPECT_EQ(::GetObjectType(brush), 0u);
  EXPECT_FALSE(::IsMenu(menu));
  ICONINFO info{};
  EXPECT_FALSE(::GetIconInfo(icon, &info));
}

TEST(UniqueHandle, ModuleReferenceIsDroppedOnce) {
  // Holding one extra reference keeps the module; dropping ours leaves it.
  HMODULE held = ::LoadLibraryW(L"comdlg32.dll");
  ASSERT_NE(held, nullptr);
  {
    UniqueModule m(::LoadLibraryW(L"comdlg32.dll"));
    EXPECT_EQ(m.get(), held);
  }
  EXPECT_EQ(::GetModuleHandleW(L"comdlg32.dll"), held);
  ::FreeLibrary(held);
}

TEST(WindowDC, RemembersItsWindowAndMoves) {
  HWND wnd = PlainWindow();
  WindowDC dc(wnd, WindowDC::Whole);
  ASSERT_TRUE(dc);
  EXPECT_EQ(dc.window(), wnd);
  WindowDC moved(std::move(dc));
  EXPECT_FALSE(dc);
  EXPECT_EQ(moved.window(), wnd);
  EXPECT_EQ(::WindowFromDC(moved.get()), wnd);
  moved.reset();
  EXPECT_FALSE(moved);
  ::DestroyWindow(wnd);
}

TEST(ScopeGuards, SelectObjectIsUndone) {
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ before = ::GetCurrentObject(dc, OBJ_BRUSH);
  UniqueBrush brush(::CreateSolidBrush(RGB(9, 9, 9)));
  {
    SelectGuard guard(dc, brush.get());
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_BRUSH), brush.get());
    EXPECT_EQ(guard.previous(), before);
  }
  EXPECT_EQ(::GetCurrentObject(dc, OBJ_BRUSH), before);
  ::DeleteDC(dc);
}

TEST(ScopeGuards, PaintValidatesAndCaptureIsReleased) {
  HWND wnd = PlainWindow();
  ::ShowWindow(wnd, SW_SHOWNA);
  ::InvalidateRect(wnd, nullptr, FALSE);
  ASSERT_TRUE(::GetUpdateRect(wnd, nullptr, FALSE));
  {
    PaintGuard paint(wnd);
    EXPECT_NE(paint.dc(), nullptr);
  }
  EXPECT_FALSE(::GetUpdateRect(wnd, nullptr, FALSE));
  {
    CaptureGuard capture(wnd);
    EXPECT_EQ(::GetCapture(), wnd);
  }
  EXPECT_EQ(::GetCapture(), nullptr);
  ::DestroyWindow(wnd);
}

}  // namespace
}  // namespace tarnwick
