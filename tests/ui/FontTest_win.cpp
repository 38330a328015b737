// Fonts by definition are made once and shared; each carries what the
// definition asked for.
#include <gtest/gtest.h>

#include "ui/Font.h"

namespace tarnwick {
namespace {

FontDef Def(const char* face, int height, bool underline, std::uint8_t charset) {
  FontDef f;
  f.face = face;
  f.height = height;
  f.underline = underline;
  f.charset = charset;
  return f;
}

TEST(FontFor, SameDefinitionSameFontOtherwiseAnother) {
  HFONT a = FontFor(Def("MS P ゴシック", 12, false, kShiftJisCharset));
  HFONT b = FontFor(Def("MS P ゴシック", 12, false, kShiftJisCharset));
  EXPECT_EQ(a, b);
  const FontDef others[] = {Def("MS P ゴシック", 11, false, kShiftJisCharset),
                            Def("MS P ゴシック", 12, true, kShiftJisCharset),
                            Def("ＭＳ Ｐゴシック", 12, false, kShiftJisCharset),
                            Def("MS P ゴシック", 12, false, kDefaultCharset)};
  for (const FontDef& other : others) {
    SCOPED_TRACE(other.height);
    EXPECT_NE(FontFor(other), a);
  }
  // The text colour is painted, not part of the font.
  FontDef red = Def("MS P ゴシック", 12, false, kShiftJisCharset);
  red.color = colors::Red;
  EXPECT_EQ(FontFor(red), a);
}

TEST(FontFor, LogicalFontMatchesTheDefinition) {
  struct Row {
    const char* face;
    const wchar_t* wide;
    int height;
    bool underline;
  };
  const Row rows[] = {{"MS P ゴシック", L"MS P ゴシック", 11, false},
                      {"ＭＳ Ｐゴシック", L"ＭＳ Ｐゴシック", 12, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.height);
    LOGFONTW lf{};
    ASSERT_GT(::GetObjectW(FontFor(Def(row.face, row.height, row.underline, kShiftJisCharset)), sizeof(lf), &lf), 0);
    EXPECT_STREQ(lf.lfFaceName, row.wide);
    EXPECT_EQ(lf.lfHeight, -row.height);
    EXPECT_EQ(lf.lfUnderline != 0, row.underline);
    EXPECT_EQ(lf.lfCharSet, SHIFTJIS_CHARSET);
  }
}

TEST(MeasureText, GrowsWithTheText) {
  HFONT font = FontFor(Def("MS P ゴシック", 12, false, kShiftJisCharset));
  SIZE empty = MeasureText(font, L"");
  SIZE one = MeasureText(font, L"ホ");
  SIZE two = MeasureText(font, L"ホスト");
  EXPECT_EQ(empty.cx, 0);
  EXPECT_GT(one.cx, 0);
  EXPECT_GT(two.cx, one.cx);
  EXPECT_GE(one.cy, 12);
}

}  // namespace
}  // namespace tarnwick
