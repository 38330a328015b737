// Text conversion between the encodings the program meets: UTF-8 inside the
// program, CP932 (Shift-JIS, the Japanese Windows code page) on the wire, and
// UTF-16 for the Windows wide-character functions. Bytes from outside never
// make a conversion fail: anything undecodable becomes U+FFFD.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

// CP932 bytes to UTF-8. Invalid or incomplete sequences decode to U+FFFD.
std::string Cp932ToUtf8(std::string_view cp932);

// UTF-8 to CP932. Empty result (nullopt) when the text is not valid UTF-8 or
// holds a character that CP932 cannot represent; nothing is guessed.
std::optional<std::string> Utf8ToCp932(std::string_view utf8);

// UTF-8 <-> UTF-16. Invalid UTF-8 (overlong forms, surrogates, truncated
// sequences) and unpaired surrogates become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
// Strict form: nullopt instead of replacement characters.
std::optional<std::u16string> Utf8ToUtf16Strict(std::string_view utf8);

// wchar_t forms for the Windows W functions (UTF-16 where wchar_t has 16 bits,
// code points where it has 32).
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

// Length of the CP932 character starting at text[0]: 2 for a lead byte
// followed by a valid trail byte, else 1. Splits bytes into characters
// without a code-page table.
std::size_t Cp932CharLength(std::string_view text);

// Appends one code point as UTF-8 (callers pass valid scalar values).
void AppendUtf8(std::string& out, char32_t cp);

namespace codec_detail {
// Back ends (iconv on POSIX, the code-page functions on Windows). Both fail
// on the first byte or character they cannot convert.
bool Cp932ToUtf16Strict(std::string_view in, std::u16string& out);
bool Utf16ToCp932Strict(std::u16string_view in, std::string& out);
}  // namespace codec_detail

}  // namespace tarnwick
