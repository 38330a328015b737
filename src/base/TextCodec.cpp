#include "base/TextCodec.h"

#include <cstdint>

namespace tarnwick {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[i]; advances i. Returns kInvalid for
// anything that is not a well-formed shortest-form scalar value, consuming
// the longest valid prefix (at least one byte) so decoding always progresses.
constexpr char32_t kInvalid = 0xFFFFFFFF;
char32_t DecodeUtf8(std::string_view text, std::size_t& i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char b0 = byte(i);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    extra = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // overlong
    if (b0 == 0xED) hi = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    extra = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;  // overlong
    if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    ++i;
    return kInvalid;
  }
  ++i;
  for (int k = 0; k < extra; ++k) {
    if (i >= text.size()) return kInvalid;
    unsigned char b = byte(i);
    if (k == 0 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) return kInvalid;
    cp = (cp << 6) | (b & 0x3F);
    ++i;
  }
  return cp;
}

template <typename Char>
void AppendUtf16(std::basic_string<Char>& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<Char>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<Char>(0xD800 + (cp >> 10));
    out += static_cast<Char>(0xDC00 + (cp & 0x3FF));
  }
}

// Walks UTF-16 code units; unpaired surrogates become U+FFFD.
template <typename Char, typename Sink>
void ForEachUtf16(std::basic_string_view<Char> text, Sink sink) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t u = static_cast<char16_t>(text[i]);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size()) {
      char32_t v = static_cast<char16_t>(text[i + 1]);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        sink(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
        ++i;
        continue;
      }
    }
    sink(u >= 0xD800 && u <= 0xDFFF ? kReplacement : u);
  }
}

bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::size_t Cp932CharLength(std::string_view text) {
  if (text.size() < 2) return text.size();
  auto lead = static_cast<unsigned char>(text[0]);
  auto trail = static_cast<unsigned char>(text[1]);
  bool isLead = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
  bool isTrail = (trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC);
  return isLead && isTrail ? 2 : 1;
}

std::string Cp932ToUtf8(std::string_view cp932) {
  if (IsAscii(cp932)) return std::string(cp932);
  std::u16string wide;
  if (!codec_detail::Cp932ToUtf16Strict(cp932, wide)) {
    // Something in it is invalid: convert character by character so that
    // only the bad ones turn into replacement characters.
    wide.clear();
    std::u16string one;
    for (std::size_t i = 0; i < cp932.size();) {
      std::size_t n = Cp932CharLength(cp932.substr(i));
      one.clear();
      if (codec_detail::Cp932ToUtf16Strict(cp932.substr(i, n), one) && !one.empty())
        wide += one;
      else
        wide += static_cast<char16_t>(kReplacement);
      i += n;
    }
  }
  return Utf16ToUtf8(wide);
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
  std::optional<std::u16string> wide = Utf8ToUtf16Strict(utf8);
  if (!wide) return std::nullopt;
  if (IsAscii(utf8)) return std::string(utf8);
  std::string out;
  if (!codec_detail::Utf16ToCp932Strict(*wide, out)) return std::nullopt;
  return out;
}

std::optional<std::u16string> Utf8ToUtf16Strict(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = DecodeUtf8(utf8, i);
    if (cp == kInvalid) return std::nullopt;
    AppendUtf16(out, cp);
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = DecodeUtf8(utf8, i);
    AppendUtf16(out, cp == kInvalid ? kReplacement : cp);
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  ForEachUtf16(utf16, [&](char32_t cp) { AppendUtf8(out, cp); });
  return out;
}

std::wstring Utf8ToWide(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = DecodeUtf8(utf8, i);
    if (cp == kInvalid) cp = kReplacement;
    if constexpr (sizeof(wchar_t) == 2)
      AppendUtf16(out, cp);
    else
      out += static_cast<wchar_t>(cp);
  }
  return out;
}

std::string WideToUtf8(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  if constexpr (sizeof(wchar_t) == 2) {
    ForEachUtf16(wide, [&](char32_t cp) { AppendUtf8(out, cp); });
  } else {
    for (wchar_t c : wide) {
      auto cp = static_cast<char32_t>(c);
      AppendUtf8(out, (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) ? kReplacement : cp);
    }
  }
  return out;
}

}  // namespace tarnwick
