// Windows back end of the binding: the socket library is loaded by name and
// every entry looked up with GetProcAddress in the table's order; the three
// protocol-independent name functions may come from "wship6.dll" instead.
#include <windows.h>

#include <string>

#include "net/SocketApi.h"

namespace tarnwick {
namespace {

HMODULE mainLibrary = nullptr;
HMODULE addOnLibrary = nullptr;

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

template <typename Entry>
void Look(HMODULE library, const char* name, Entry& entry) {
  FARPROC address = GetProcAddress(library, name);
  // Function pointers of different types share one representation; the
  // table's type is the exported function's.
  entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(address));
}

}  // namespace

namespace detail {

int SystemSocketError() { return static_cast<int>(GetLastError()); }
void SetSystemSocketError(int code) { SetLastError(static_cast<DWORD>(code)); }
bool AddOnResolverAlongsideMain() { return false; }

bool OpenMainLibrary(const std::string& fileName, SocketFunctionTable& t) {
  HMODULE library = LoadLibraryW(Widen(fileName).c_str());
  if (!library) return false;
  mainLibrary = library;
  const char* const* n = kSocketFunctionNames;
  Look(library, n[0], t.WSAIoctl);
  Look(library, n[1], t.WSAFDIsSet);
  Look(library, n[2], t.closesocket);
  Look(library, n[3], t.ioctlsocket);
  Look(library, n[4], t.WSAGetLastError);
  Look(library, n[5], t.WSAStartup);
  Look(library, n[6], t.WSACleanup);
  Look(library, n[7], t.accept);
  Look(library, n[8], t.bind);
  Look(library, n[9], t.connect);
  Look(library, n[10], t.getpeername);
  Look(library, n[11], t.getsockname);
  Look(library, n[12], t.getsockopt);
  Look(library, n[13], t.htonl);
  Look(library, n[14], t.htons);
  Look(library, n[15], t.inet_addr);
  Look(library, n[16], t.inet_ntoa);
  Look(library, n[17], t.listen);
  Look(library, n[18], t.ntohl);
  Look(library, n[19], t.ntohs);
  Look(library, n[20], t.recv);
  Look(library, n[21], t.recvfrom);
  Look(library, n[22], t.select);
  Look(library, n[23], t.send);
  Look(library, n[24], t.sendto);
  Look(library, n[25], t.setsockopt);
  Look(library, n[26], t.shutdown);
  Look(library, n[27], t.socket);
  Look(library, n[28], t.gethostbyaddr);
  Look(library, n[29], t.gethostbyname);
  Look(library, n[30], t.getprotobyname);
  Look(library, n[31], t.getprotobynumber);
  Look(library, n[32], t.getservbyname);
  Look(library, n[33], t.getservbyport);
  Look(library, n[34], t.gethostname);
  Look(library, n[35], t.getaddrinfo);
  Look(library, n[36], t.freeaddrinfo);
  Look(library, n[37], t.getnameinfo);
  return true;
}

bool OpenAddOnLibrary(SocketFunctionTable& t) {
  HMODULE library = LoadLibraryW(L"wship6.dll");
  if (!library) return false;
  addOnLibrary = library;
  Look(library, "getaddrinfo", t.getaddrinfo);
  Look(library, "freeaddrinfo", t.freeaddrinfo);
  Look(library, "getnameinfo", t.getnameinfo);
  return true;
}

void CloseLibraries() {
  if (mainLibrary) FreeLibrary(mainLibrary);
  mainLibrary = nullptr;
  if (addOnLibrary) FreeLibrary(addOnLibrary);
  addOnLibrary = nullptr;
}

}  // namespace detail
}  // namespace tarnwick
