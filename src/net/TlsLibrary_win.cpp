// Windows back end of the TLS binding: LoadLibraryW by file name.
#include <windows.h>

#include "net/TlsApi.h"

namespace tarnwick {

std::vector<TlsLibraryNames> DefaultTlsLibraryNames() {
  return {
      {"libssl-3.dll", "libcrypto-3.dll"},
      {"libssl-1_1.dll", "libcrypto-1_1.dll"},
      {"ssleay32.dll", "libeay32.dll"},
      {"libssl32.dll", "libeay32.dll"},
  };
}

namespace detail {

void* OpenTlsLibrary(const std::string& fileName) {
  if (fileName.empty()) return nullptr;
  // Library names are plain ASCII; widen byte by byte.
  std::wstring wide(fileName.begin(), fileName.end());
  return reinterpret_cast<void*>(LoadLibraryW(wide.c_str()));
}

void* FindTlsSymbol(void* library, const char* name) {
  if (!library) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseTlsLibrary(void* library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace detail

TlsCallScope::TlsCallScope() {}
TlsCallScope::~TlsCallScope() {}

}  // namespace tarnwick
