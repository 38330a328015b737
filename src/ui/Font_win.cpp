#include "ui/Font.h"

#include <map>
#include <string>
#include <tuple>

#include "base/TextCodec.h"
#include "ui/Handle.h"
#include "ui/ScopeGuard.h"

namespace tarnwick {
namespace {

using FontKey = std::tuple<std::string, int, bool, int>;

std::map<FontKey, UniqueFont>& Cache() {
  // Freed when the process ends normally, after the program has destroyed
  // its windows.
  static std::map<FontKey, UniqueFont> cache;
  return cache;
}

}  // namespace

HFONT FontFor(const FontDef& def) {
  FontKey key{def.face, def.height, def.underline, def.charset};
  auto& cache = Cache();
  auto it = cache.find(key);
  if (it != cache.end()) return it->second.get();

  LOGFONTW lf{};
  // A negative height asks for the character height, which is what the
  // form definitions give.
  lf.lfHeight = -def.height;
  lf.lfWeight = FW_NORMAL;
  lf.lfUnderline = def.underline ? TRUE : FALSE;
  lf.lfCharSet = def.charset;
  lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
  lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  std::wstring face = Utf8ToWide(def.face);
  wcsncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  UniqueFont font(::CreateFontIndirectW(&lf));
  if (!font) return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  HFONT h = font.get();
  cache.emplace(key, std::move(font));
  return h;
}

SIZE MeasureText(HFONT font, const std::wstring& text) {
  SIZE size{0, 0};
  WindowDC dc(nullptr, WindowDC::Client);
  if (!dc) return size;
  SelectGuard select(dc.get(), font);
  ::GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &size);
  return size;
}

}  // namespace tarnwick
