#include "decor/GlyphImage.h"

namespace tarnwick {

GlyphPixels ComposeGlyph(const GlyphPixels& source, bool enabled, bool transparent,
                         const GlyphColours& colours) {
  GlyphPixels out = source;
  if (source.empty()) return out;
  if (enabled) {
    if (!transparent) return out;
    const std::uint32_t key = source.at(0, 0);
    for (std::uint32_t& p : out.pixels) {
      if (p == key) p = colours.face;
    }
    return out;
  }
  for (std::uint32_t& p : out.pixels) p = colours.face;
  // Highlight first, shadow over it, as an engraving is lit from the top left.
  for (int y = 0; y < source.height; ++y) {
    for (int x = 0; x < source.width; ++x) {
      if (source.at(x, y) != 0) continue;
      if (x + 1 < out.width && y + 1 < out.height) out.at(x + 1, y + 1) = colours.highlight;
    }
  }
  for (int y = 0; y < source.height; ++y) {
    for (int x = 0; x < source.width; ++x) {
      if (source.at(x, y) == 0) out.at(x, y) = colours.shadow;
    }
  }
  return out;
}

}  // namespace tarnwick
