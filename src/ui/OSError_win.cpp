#include "ui/OSError.h"

#include <windows.h>

#include "base/TextCodec.h"

namespace tarnwick {

void RaiseLastOSError(const char* call) {
  DWORD code = ::GetLastError();
  wchar_t* text = nullptr;
  ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = std::string(call) + " failed (" + std::to_string(code) + ")";
  if (text != nullptr) {
    std::wstring w(text);
    ::LocalFree(text);
    while (!w.empty() && (w.back() == L'\r' || w.back() == L'\n' || w.back() == L' ')) w.pop_back();
    if (!w.empty()) message += ": " + WideToUtf8(w);
  }
  throw EOSError(message, code);
}

}  // namespace tarnwick
