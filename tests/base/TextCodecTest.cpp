// Text conversion: CP932 both ways, UTF-8/UTF-16, and the replacement of
// anything undecodable.
#include <gtest/gtest.h>

#include <string>

#include "base/TextCodec.h"

namespace tarnwick {
namespace {

TEST(TextCodec, Cp932DecodesValidAndReplacesInvalidBytes) {
  struct Row {
    std::string cp932, utf8;
  };
  const Row rows[] = {
      {"", ""},
      {"config", "config"},
      {"\x93\xfa\x96\x7b\x8c\xea", "日本語"},
      {"\xb1\xdd", "ｱﾝ"},                      // half-width katakana are single bytes
      {"\x83\x5c", "ソ"},                      // trail byte 0x5C is not a backslash here
      {"a\x93", "a\xEF\xBF\xBD"},              // lead byte cut off at the end
      {"\x93 b", "\xEF\xBF\xBD b"},            // lead byte with an invalid trail
      {"x\x93\xfay\x93", "x日y\xEF\xBF\xBD"},  // valid and invalid mixed
      {std::string("\0a", 2), std::string("\0a", 2)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.utf8);
    EXPECT_EQ(Cp932ToUtf8(r.cp932), r.utf8);
  }
}

TEST(TextCodec, Utf8ToCp932RefusesWhatItCannotRepresent) {
  EXPECT_EQ(Utf8ToCp932("config/pass"), std::optional<std::string>("config/pass"));
  EXPECT_EQ(Utf8ToCp932("日本語.txt"), std::optional<std::string>("\x93\xfa\x96\x7b\x8c\xea.txt"));
  EXPECT_EQ(Utf8ToCp932("ｱ"), std::optional<std::string>("\xb1"));
  EXPECT_EQ(Utf8ToCp932(""), std::optional<std::string>(""));
  EXPECT_FALSE(Utf8ToCp932("\xF0\x9F\x98\x80").has_value());  // emoji
  EXPECT_FALSE(Utf8ToCp932("\xC3").has_value());              // truncated UTF-8
  EXPECT_FALSE(Utf8ToCp932("a\xFF").has_value());
}

TEST(TextCodec, Cp932RoundTripOfEveryValidDoubleByteRowSample) {
  // Every two-byte character that decodes without replacement encodes back
  // to the same bytes (a sample of lead bytes, every trail byte).
  int checked = 0;
  for (int lead : {0x81, 0x82, 0x83, 0x88, 0x93, 0x9f, 0xe0, 0xea}) {
    for (int trail = 0x40; trail <= 0xfc; ++trail) {
      if (trail == 0x7f) continue;
      std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
      std::string utf8 = Cp932ToUtf8(bytes);
      if (utf8 == "\xEF\xBF\xBD") continue;  // unassigned
      auto back = Utf8ToCp932(utf8);
      ASSERT_TRUE(back.has_value()) << std::hex << lead << " " << trail;
      EXPECT_EQ(*back, bytes) << std::hex << lead << " " << trail;
      ++checked;
    }
  }
  EXPECT_GT(checked, 1000);
}

TEST(TextCodec, Utf8ToUtf16ReplacesMalformedSequences) {
  struct Row {
    std::string utf8;
    std::u16string utf16;
  };
  const Row rows[] = {
      {"", u""},
      {"A\xC3\xA9", u"A\u00e9"},
      {"\xE6\x97\xA5", u"\u65e5"},
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong slash
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xE6\x97", u"\uFFFD"},                            // truncated at the end
      {"\xE6\x97x", u"\uFFFDx"},
      {"\x80", u"\uFFFD"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.utf8));
    EXPECT_EQ(Utf8ToUtf16(r.utf8), r.utf16);
    EXPECT_EQ(Utf8ToUtf16Strict(r.utf8).has_value(), r.utf16.find(u'\uFFFD') == std::u16string::npos);
  }
}

TEST(TextCodec, Utf16ToUtf8AndWideRoundTrip) {
  EXPECT_EQ(Utf16ToUtf8(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(u"\xD800"
                        u"a"),
            "\xEF\xBF\xBD"
            "a");                                     // unpaired high surrogate
  EXPECT_EQ(Utf16ToUtf8(u"\xDC00"), "\xEF\xBF\xBD");  // unpaired low surrogate
  for (const char* text : {"", "plain", "日本語テスト", "\xF0\x9F\x98\x80 x"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
    EXPECT_EQ(WideToUtf8(Utf8ToWide(text)), text);
  }
}

TEST(TextCodec, Cp932CharLengthSplitsLeadAndTrail) {
  EXPECT_EQ(Cp932CharLength(""), 0u);
  EXPECT_EQ(Cp932CharLength("a"), 1u);
  EXPECT_EQ(Cp932CharLength("\x93"), 1u);
  EXPECT_EQ(Cp932CharLength("\x93\xfa"), 2u);
  EXPECT_EQ(Cp932CharLength("\x93\x7f"), 1u);
  EXPECT_EQ(Cp932CharLength("\xa0\xfa"), 1u);
  EXPECT_EQ(Cp932CharLength("\xe0\x40"), 2u);
  EXPECT_EQ(Cp932CharLength("\xfd\x40"), 1u);
}

}  // namespace
}  // namespace tarnwick
