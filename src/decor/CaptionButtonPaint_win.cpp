// Painting of a caption button into the window frame: the whole button is
// built in a memory bitmap and copied in one transfer, so the frame never
// shows a half-drawn button. Plain pens and system colours only; the
// button keeps its classic look on any title bar.
#include "decor/CaptionButton.h"
#include "decor/GlyphImage.h"
#include "ui/ScopeGuard.h"

namespace tarnwick {
namespace {

std::uint32_t ToRgbValue(COLORREF c) { return Rgb(GetRValue(c), GetGValue(c), GetBValue(c)); }

// Reads a bitmap as top-down 0x00RRGGBB pixels.
GlyphPixels ReadPixels(HDC dc, HBITMAP bitmap) {
  GlyphPixels px;
  BITMAP bm{};
  if (bitmap == nullptr || ::GetObjectW(bitmap, sizeof bm, &bm) == 0) return px;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = bm.bmWidth;
  bi.bmiHeader.biHeight = -bm.bmHeight;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  std::vector<std::uint32_t> raw(static_cast<std::size_t>(bm.bmWidth) *
                                 static_cast<std::size_t>(bm.bmHeight));
  if (::GetDIBits(dc, bitmap, 0, static_cast<UINT>(bm.bmHeight), raw.data(), &bi, DIB_RGB_COLORS) == 0)
    return px;
  px.width = bm.bmWidth;
  px.height = bm.bmHeight;
  px.pixels.reserve(raw.size());
  for (std::uint32_t v : raw) px.pixels.push_back(v & 0xFFFFFF);  // BGRA in memory = 0x00RRGGBB
  return px;
}

void StretchPixels(HDC dc, const GlyphPixels& px, int x, int y, int w, int h) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = px.width;
  bi.bmiHeader.biHeight = -px.height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  ::SetStretchBltMode(dc, COLORONCOLOR);
  ::StretchDIBits(dc, x, y, w, h, 0, 0, px.width, px.height, px.pixels.data(), &bi, DIB_RGB_COLORS, SRCCOPY);
}

// A polyline of a solid one-pixel pen; LineTo leaves out the end point.
void Line(HDC dc, COLORREF colour, std::initializer_list<POINT> points) {
  UniquePen pen(::CreatePen(PS_SOLID, 1, colour));
  SelectGuard use(dc, pen.get());
  auto it = points.begin();
  ::MoveToEx(dc, it->x, it->y, nullptr);
  for (++it; it != points.end(); ++it) ::LineTo(dc, it->x, it->y);
}

// A memory device context, deleted on every way out.
struct MemoryDC {
  explicit MemoryDC(HDC compatible) : dc(::CreateCompatibleDC(compatible)) {}
  MemoryDC(const MemoryDC&) = delete;
  MemoryDC& operator=(const MemoryDC&) = delete;
  ~MemoryDC() {
    if (dc != nullptr) ::DeleteDC(dc);
  }
  HDC dc;
};

FrameMetrics CurrentMetrics() {
  FrameMetrics m;
  m.cxSize = ::GetSystemMetrics(SM_CXSIZE);
  m.cySize = ::GetSystemMetrics(SM_CYSIZE);
  m.cxSmSize = ::GetSystemMetrics(SM_CXSMSIZE);
  m.cySmSize = ::GetSystemMetrics(SM_CYSMSIZE);
  m.cxFrame = ::GetSystemMetrics(SM_CXFRAME);
  m.cyFrame = ::GetSystemMetrics(SM_CYFRAME);
  m.cxDlgFrame = ::GetSystemMetrics(SM_CXDLGFRAME);
  m.cyDlgFrame = ::GetSystemMetrics(SM_CYDLGFRAME);
  return m;
}

}  // namespace

void TCustomCaptionButton::Paint(bool downLook) {
  FDrawnDown = downLook;
  if (!FVisible) return;
  HWND wnd = HookedWnd();
  if (wnd == nullptr || !::IsWindow(wnd)) return;
  WindowShape shape;
  shape.style = static_cast<std::uint32_t>(GetFormStyle());
  shape.exStyle = static_cast<std::uint32_t>(GetFormExStyle());
  shape.iconic = ::IsIconic(wnd) != FALSE;
  RECT wr{};
  ::GetWindowRect(wnd, &wr);
  shape.windowWidth = wr.right - wr.left;
  const ButtonPlacement place = PlaceButton(CurrentMetrics(), shape, FRightOffset);
  if (!place.paintable) return;
  FButtonRect = place;

  WindowDC dc(wnd, WindowDC::Whole);
  if (!dc) return;
  const int w = place.glyphWidth, h = place.glyphHeight;
  MemoryDC memory(dc.get());
  HDC mem = memory.dc;
  if (mem == nullptr) return;
  UniqueBitmap image(::CreateCompatibleBitmap(dc.get(), place.imageWidth, place.imageHeight));
  {
    SelectGuard useImage(mem, image.get());
    const COLORREF highlight = ::GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF black = RGB(0, 0, 0), grey = RGB(128, 128, 128);
    if (!downLook) {
      Line(mem, highlight, {{0, h + 1}, {0, 0}, {w + 3, 0}});
      Line(mem, black, {{0, h + 2}, {w + 2, h + 2}, {w + 2, -1}});
      Line(mem, grey, {{w + 1, 1}, {w + 1, h + 1}, {0, h + 1}});
      Line(mem, ::GetSysColor(COLOR_3DLIGHT), {{1, h}, {1, 1}, {w + 1, 1}});
    } else {
      Line(mem, highlight, {{0, h + 1}, {0, 0}, {w + 3, 0}});
      Line(mem, black, {{0, h + 1}, {0, 0}, {w + 3, 0}});
      Line(mem, highlight, {{0, h + 2}, {w + 2, h + 2}, {w + 2, -1}});
      Line(mem, grey, {{w, 1}, {1, 1}, {1, h + 1}});
      Line(mem, RGB(192, 192, 192), {{w + 1, 1}, {w + 1, h + 1}, {0, h + 1}});
    }
    {
      const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
      UniquePen pen(::CreatePen(PS_SOLID, 1, face));
      UniqueBrush brush(::CreateSolidBrush(face));
      SelectGuard usePen(mem, pen.get());
      SelectGuard useBrush(mem, brush.get());
      ::Rectangle(mem, 2, 2, w + 1, h + 1);
    }
    if (FGlyph.get() == nullptr)
      PaintCharacter(mem, downLook);
    else
      PaintGlyph(mem, downLook);
    ::BitBlt(dc.get(), place.blitX, place.blitY, place.imageWidth, place.imageHeight, mem, 0, 0, SRCCOPY);
  }
}

void TCustomCaptionButton::PaintGlyph(HDC dc, bool downLook) {
  HBITMAP source = (downLook && FGlyphDown.get() != nullptr) ? FGlyphDown.get() : FGlyph.get();
  const GlyphPixels px = ReadPixels(dc, source);
  if (px.empty()) return;
  GlyphColours colours;
  colours.face = ToRgbValue(::GetSysColor(COLOR_BTNFACE));
  colours.highlight = ToRgbValue(::GetSysColor(COLOR_BTNHIGHLIGHT));
  colours.shadow = ToRgbValue(::GetSysColor(COLOR_BTNSHADOW));
  const GlyphPixels image = ComposeGlyph(px, FEnabled, FGlyphTransparent, colours);
  const int d = downLook ? 1 : 0;
  StretchPixels(dc, image, d + 2, d + 2, FButtonRect.glyphWidth - 1, FButtonRect.glyphHeight - 1);
}

void TCustomCaptionButton::PaintCharacter(HDC dc, bool downLook) {
  // Characters are SM_CYSIZE - 7 pixels high (a negative height asks for
  // the character height rather than the cell height).
  LOGFONTW lf{};
  lf.lfHeight = 7 - ::GetSystemMetrics(SM_CYSIZE);
  lf.lfCharSet = DEFAULT_CHARSET;
  wcsncpy(lf.lfFaceName, fontName_.c_str(), LF_FACESIZE - 1);
  UniqueFont font(::CreateFontIndirectW(&lf));
  SelectGuard useFont(dc, font.get());
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextAlign(dc, TA_CENTER | TA_TOP);
  const int d = downLook ? 1 : 0;
  auto draw = [&](int a, int b, COLORREF colour) {
    ::SetTextColor(dc, colour);
    ::TextOutW(dc, a + FButtonRect.cx / 2 - 1 + FTextOffsetX + d, b + FTextOffsetY + d, &FGlyphChar, 1);
  };
  if (!FEnabled) {
    draw(1, 1, RGB(255, 255, 255));
    draw(0, 0, RGB(128, 128, 128));
  } else {
    draw(0, 0, ::GetSysColor(fontColorIndex_));
  }
}

}  // namespace tarnwick
