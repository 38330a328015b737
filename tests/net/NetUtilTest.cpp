// Boundaries of the utility routines: tick wrap, word packing, text
// splitting, numeric address recognition, line ends and Base64.
#include <gtest/gtest.h>

#include <string>

#include "net/NetUtil.h"

namespace tarnwick {
namespace {

TEST(TickSpan, ForwardBackwardAndWrap) {
  struct Row {
    std::uint32_t earlier, later, span;
  } rows[] = {
      {5, 5, 0},
      {0, 1, 1},
      {100, 600, 500},
      {4294967040u, 256, 512},                  // counter wrapped between the two
      {0xFFFFFFFFu, 0, 1},                      // the smallest wrap
      {0x80000000u, 0x7FFFFFFFu, 0xFFFFFFFFu},  // top bit set, other clear: forward distance
      {256, 176, 80},                           // no wrap: distance backwards
      {0x7FFFFFFFu, 0, 0x7FFFFFFFu},            // neither has the top bit: backwards
      {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu},  // both have it: backwards
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.earlier) + " -> " + std::to_string(r.later));
    EXPECT_EQ(TickSpan(r.earlier, r.later), r.span);
  }
}

TEST(TickSpan, CurrentTickMovesForward) {
  const std::uint32_t a = CurrentTick();
  std::uint32_t b = a;
  for (int i = 0; i < 100000000 && b == a; ++i) b = CurrentTick();
  EXPECT_NE(a, b);
  EXPECT_LT(TickSpan(a, b), 1000u);
}

TEST(WordPacking, EncodeAndDecode) {
  struct Row {
    std::uint16_t value;
    unsigned char hi, lo;
  } rows[] = {{0, 0, 0}, {1, 0, 1}, {255, 0, 255}, {256, 1, 0}, {513, 2, 1}, {65535, 255, 255}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.value);
    std::string bytes = EncodeWord(r.value);
    ASSERT_EQ(bytes.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), r.hi);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), r.lo);
    EXPECT_EQ(DecodeWord(bytes, 1), r.value);
    EXPECT_EQ(DecodeWord("x" + bytes, 2), r.value);
  }
  const std::string three("\x01\x02\x03", 3);
  EXPECT_EQ(DecodeWord(three, 2), 2 * 256 + 3);
  EXPECT_EQ(DecodeWord(three, 3), 0) << "only one byte left there";
  EXPECT_EQ(DecodeWord(three, 4), 0);
  EXPECT_EQ(DecodeWord(three, 0), 0) << "positions count from 1";
  EXPECT_EQ(DecodeWord("", 1), 0);
}

TEST(TextSplitting, BeforeAfterAndTake) {
  EXPECT_EQ(TextBefore(" key = value ", "="), "key");
  EXPECT_EQ(TextAfter(" key = value ", "="), "value");
  EXPECT_EQ(TextBefore("no delimiter ", "="), "no delimiter");
  EXPECT_EQ(TextAfter("\tno delimiter", "="), "no delimiter");
  EXPECT_EQ(TextAfter("a::b", "::"), "b") << "all of the delimiter is skipped";
  EXPECT_EQ(TextBefore("a=b=c", "="), "a");
  EXPECT_EQ(TextAfter("a=b=c", "="), "b=c");

  std::string text = "1.2.3";
  EXPECT_EQ(TakeField(text, "."), "1");
  EXPECT_EQ(text, "2.3");
  EXPECT_EQ(TakeField(text, "."), "2");
  EXPECT_EQ(TakeField(text, "."), "3");
  EXPECT_EQ(text, "") << "the last field empties the text";
  EXPECT_EQ(TakeField(text, "."), "");
}

TEST(AddressLiterals, IPv4) {
  struct Row {
    const char* text;
    bool ok;
  } rows[] = {
      {"192.168.0.1", true},
      {"0.0.0.0", true},
      {"255.255.255.255", true},
      {"010.001.000.009", true},
      {" 1 . 2 . 3 . 4 ", true},
      {"256.1.1.1", false},
      {"1.2.3.256", false},
      {"1.2.3", false},
      {"1.2.3.4.5", false},
      {"1.2.3.x", false},
      {"", false},
      {"1..3.4", false},
      {"99999999999999999999.1.1.1", false},
      {"-1.2.3.4", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(IsIPv4Literal(r.text), r.ok);
  }
}

TEST(AddressLiterals, IPv6) {
  struct Row {
    const char* text;
    bool ok;
  } rows[] = {
      {"::1", true},
      {"fe80::1%4", true},
      {"1:2:3:4:5:6:7:8", true},
      {"FFFF::abcd", true},
      {"abcd", true},  // one hexadecimal group counts
      {"1:2:3:4:5:6:7:8:9", false},
      {"1::2::3", false},
      {"1.2.3.4", false},
      {"router", false},
      {"10000::1", false},
      {"fe80::1%zz", false},
      {"", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(IsIPv6Literal(r.text), r.ok);
  }
}

TEST(AddressLiterals, IPv4ToBytes) {
  EXPECT_EQ(IPv4ToBytes("192.168.0.1"), std::string("\xC0\xA8\x00\x01", 4));
  EXPECT_EQ(IPv4ToBytes("0.0.0.1"), std::string("\x00\x00\x00\x01", 4));
  EXPECT_EQ(IPv4ToBytes("255.255.255.255"), std::string(4, '\xFF'));
}

TEST(FindLineEnd, EarliestWinsAndTiesPreferPairs) {
  struct Row {
    std::string text;
    std::size_t position;
    std::string end;
  } rows[] = {
      {"ab\r\nc", 3, "\r\n"}, {"ab\n\rc", 3, "\n\r"}, {"abc", 0, ""}, {"ab\rc", 3, "\r"}, {"ab\nc", 3, "\n"},
      {"\n", 1, "\n"},        {"a\nb\r\n", 2, "\n"},  {"", 0, ""},    {"abc\r", 4, "\r"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    std::string end = "stale";
    EXPECT_EQ(FindLineEnd(r.text, end), r.position);
    EXPECT_EQ(end, r.end);
  }
}

TEST(Base64, Rfc4648Vectors) {
  struct Row {
    std::string in, out;
  } rows[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"abc", "YWJj"},
      {std::string("\xFF\xFE\x00", 3), "//4A"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.in);
    EXPECT_EQ(Base64Encode(r.in), r.out);
    EXPECT_EQ(Base64Encode(r.in).size(), 4 * ((r.in.size() + 2) / 3));
  }
}

}  // namespace
}  // namespace tarnwick
