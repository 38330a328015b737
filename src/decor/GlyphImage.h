// The picture of a caption button's glyph as pixels: transparent colour,
// the engraved look of a disabled button. Pure so that the pixel rules can
// be checked without a display; the painter reads the bitmap into this
// form and writes the result back.
#pragma once

#include <cstdint>
#include <vector>

namespace tarnwick {

// 0x00RRGGBB per pixel, top row first.
struct GlyphPixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  bool empty() const { return width <= 0 || height <= 0; }
  std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
  std::uint32_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

constexpr std::uint32_t Rgb(unsigned r, unsigned g, unsigned b) { return (r << 16) | (g << 8) | b; }

struct GlyphColours {
  std::uint32_t face = Rgb(192, 192, 192);
  std::uint32_t highlight = Rgb(255, 255, 255);
  std::uint32_t shadow = Rgb(128, 128, 128);
};

// Enabled: with `transparent`, the top-left pixel's colour becomes the face.
// Disabled: only exactly black pixels survive, drawn engraved (highlight one
// pixel down and right, shadow on top); everything else is face.
GlyphPixels ComposeGlyph(const GlyphPixels& source, bool enabled, bool transparent,
                         const GlyphColours& colours);

}  // namespace tarnwick
