// Windows back end of the CP932 conversions: the code-page functions for
// page 932, in their strict forms (no best-fit mappings, no default
// character), so invalid input is reported instead of silently replaced.
#include <windows.h>

#include "base/TextCodec.h"

namespace tarnwick::codec_detail {

namespace {
constexpr UINT kCp932 = 932;
}

bool Cp932ToUtf16Strict(std::string_view in, std::u16string& out) {
  out.clear();
  if (in.empty()) return true;
  int n =
      ::MultiByteToWideChar(kCp932, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  n = ::MultiByteToWideChar(kCp932, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), wide.data(),
                            n);
  if (n <= 0) return false;
  out.assign(wide.begin(), wide.begin() + n);
  return true;
}

bool Utf16ToCp932Strict(std::u16string_view in, std::string& out) {
  out.clear();
  if (in.empty()) return true;
  std::wstring wide(in.begin(), in.end());
  BOOL usedDefault = FALSE;
  int n = ::WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                nullptr, 0, nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return false;
  out.assign(static_cast<std::size_t>(n), '\0');
  n = ::WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                            out.data(), n, nullptr, &usedDefault);
  return n > 0 && !usedDefault;
}

}  // namespace tarnwick::codec_detail
