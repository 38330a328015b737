/* A stand-in socket library for the binding tests: it exports a few socket
 * names, including getaddrinfo and freeaddrinfo but not getnameinfo, so that
 * loading it must fall back to the add-on resolver library; every other
 * name is missing on purpose. */
#include <windows.h>

#define FAKE_API __declspec(dllexport) __stdcall

int FAKE_API WSAGetLastError(void) { return (int)GetLastError(); }
int FAKE_API WSAStartup(unsigned short version, void* data) {
  (void)version;
  (void)data;
  return 0;
}
int FAKE_API WSACleanup(void) { return 0; }
int FAKE_API closesocket(UINT_PTR s) {
  (void)s;
  return 0;
}
/* Every socket creation fails with a number no real library gives here,
 * so a test can tell whose entry it called. */
UINT_PTR FAKE_API socket(int af, int type, int protocol) {
  (void)af;
  (void)type;
  (void)protocol;
  SetLastError(10047);
  return (UINT_PTR) ~(UINT_PTR)0;
}
int FAKE_API getaddrinfo(const char* node, const char* service, const void* hints, void** result) {
  (void)node;
  (void)service;
  (void)hints;
  if (result) *result = 0;
  return 11001;
}
void FAKE_API freeaddrinfo(void* list) { (void)list; }
