#include "serve/LogText.h"

namespace tarnwick::serve {

namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

// The code point starting at text[at] and its length in bytes; kInvalid
// with length 1 for anything that is not a shortest-form UTF-8 scalar.
char32_t Decode(std::string_view text, std::size_t at, std::size_t& length) {
  const auto b0 = static_cast<unsigned char>(text[at]);
  length = 1;
  if (b0 < 0x80) return b0;
  std::size_t need;
  char32_t cp;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
  } else {
    return kInvalid;
  }
  if (at + need >= text.size()) return kInvalid;  // cut short by the end
  for (std::size_t i = 1; i <= need; ++i) {
    const auto b = static_cast<unsigned char>(text[at + i]);
    if ((b & 0xC0) != 0x80) return kInvalid;
    cp = (cp << 6) | (b & 0x3F);
  }
  const char32_t least = need == 1 ? 0x80 : need == 2 ? 0x800 : 0x10000;
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kInvalid;
  length = need + 1;
  return cp;
}

// Characters that change how the rest of a line is shown or read.
bool Hidden(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || (cp >= 0x200B && cp <= 0x200F) ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x2069) || cp == 0xFEFF;
}

// prefix and value as `digits` hex digits ("\\x1B", "\\u202E").
void AppendEscape(std::string& out, const char* prefix, unsigned value, int digits, const char* hex) {
  out += prefix;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += hex[(value >> shift) & 0xF];
}

constexpr char kUpperHex[] = "0123456789ABCDEF";
constexpr char kLowerHex[] = "0123456789abcdef";

}  // namespace

std::string ShownText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    std::size_t length;
    const char32_t cp = Decode(bytes, at, length);
    if (cp == kInvalid || cp < 0x20 || cp == 0x7F) {
      AppendEscape(out, "\\x", static_cast<unsigned char>(bytes[at]), 2, kUpperHex);
    } else if (cp == '\\' || cp == '"') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (Hidden(cp)) {
      AppendEscape(out, "\\u", static_cast<unsigned>(cp), 4, kUpperHex);
    } else {
      out.append(bytes.substr(at, length));
    }
    at += length;
  }
  return out;
}

std::string JsonText(std::string_view bytes) {
  std::string out = "\"";
  out.reserve(bytes.size() + 2);
  for (std::size_t at = 0; at < bytes.size();) {
    std::size_t length;
    const char32_t cp = Decode(bytes, at, length);
    if (cp == kInvalid) {
      out += "\xEF\xBF\xBD";  // U+FFFD
    } else if (cp == '\\' || cp == '"') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (Hidden(cp)) {
      AppendEscape(out, "\\u", static_cast<unsigned>(cp), 4, kLowerHex);
    } else {
      out.append(bytes.substr(at, length));
    }
    at += length;
  }
  return out + "\"";
}

}  // namespace tarnwick::serve
