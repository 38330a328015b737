#include <gtest/gtest.h>

#include "decor/GlyphImage.h"

namespace tarnwick {
namespace {

constexpr std::uint32_t M = Rgb(255, 0, 255);  // background
constexpr std::uint32_t K = 0;                 // black
constexpr std::uint32_t D = Rgb(1, 0, 0);      // almost black
constexpr std::uint32_t W = Rgb(255, 255, 255);

GlyphPixels Make(int w, int h, std::vector<std::uint32_t> px) { return GlyphPixels{w, h, std::move(px)}; }

const GlyphColours kColours{Rgb(212, 208, 200), Rgb(250, 250, 250), Rgb(100, 100, 100)};

TEST(GlyphImage, TransparentKeyIsTheTopLeftPixel) {
  const GlyphPixels src = Make(3, 2, {M, K, W, W, M, K});
  const GlyphPixels out = ComposeGlyph(src, true, true, kColours);
  EXPECT_EQ(out.pixels, (std::vector<std::uint32_t>{kColours.face, K, W, W, kColours.face, K}));
  // The key follows the picture, not a fixed magenta.
  const GlyphPixels whiteKey = ComposeGlyph(Make(2, 1, {W, M}), true, true, kColours);
  EXPECT_EQ(whiteKey.pixels, (std::vector<std::uint32_t>{kColours.face, M}));
}

TEST(GlyphImage, OpaqueGlyphIsCopiedUnchanged) {
  const GlyphPixels src = Make(2, 2, {M, K, W, D});
  EXPECT_EQ(ComposeGlyph(src, true, false, kColours).pixels, src.pixels);
}

TEST(GlyphImage, DisabledKeepsOnlyExactBlackEngraved) {
  // K at (0,0) and (1,1); D (not exactly black) at (2,0).
  const GlyphPixels src = Make(3, 3,
                               {K, M, D,  //
                                M, K, M,  //
                                M, M, W});
  const GlyphPixels out = ComposeGlyph(src, false, true, kColours);
  const std::uint32_t F = kColours.face, H = kColours.highlight, S = kColours.shadow;
  // (1,1) is highlighted by (0,0) but shadowed by its own black pixel;
  // (2,2) gets the highlight of (1,1); D vanishes.
  EXPECT_EQ(out.pixels, (std::vector<std::uint32_t>{S, F, F,  //
                                                    F, S, F,  //
                                                    F, F, H}));
}

TEST(GlyphImage, DisabledBlackOnTheEdgeDoesNotWriteOutside) {
  const GlyphPixels src = Make(2, 2, {M, M, M, K});
  const GlyphPixels out = ComposeGlyph(src, false, true, kColours);
  EXPECT_EQ(out.pixels,
            (std::vector<std::uint32_t>{kColours.face, kColours.face, kColours.face, kColours.shadow}));
  EXPECT_TRUE(ComposeGlyph(GlyphPixels{}, false, true, kColours).pixels.empty());
}

}  // namespace
}  // namespace tarnwick
