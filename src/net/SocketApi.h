// Run-time binding to the system socket library. Every socket call of the
// layer goes through one process-wide table of function addresses, filled in
// a fixed order when the library is loaded. On Windows the table comes from
// "ws2_32.dll" (with "wship6.dll" as second source of the name functions);
// on POSIX it points at thin adapters over libc that speak the Windows
// numbers (families, options, flags, error codes), so that everything above
// this file behaves the same on both systems.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "net/SocketAddress.h"

#if defined(_WIN32) && !defined(_WIN64)
#define TARNWICK_SOCKAPI __attribute__((stdcall))
#else
#define TARNWICK_SOCKAPI
#endif

namespace tarnwick {

// A system socket handle; -1 means none (INVALID_SOCKET on Windows).
using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;

// The Windows descriptor set: a count and room for 64 handles.
struct DescriptorSet {
  std::uint32_t count;
  SocketHandle handles[64];
};

// Wait limit of select: seconds and microseconds (32-bit each, as on Windows).
struct WaitLimit {
  std::int32_t seconds;
  std::int32_t microseconds;
};

// The sockets start-up record, 32-bit Windows layout.
struct SocketServiceRecord {
  std::uint16_t version;
  std::uint16_t highVersion;
  char description[257];
  char systemStatus[129];
  std::uint16_t maxSockets;
  std::uint16_t maxDatagram;
  char* vendorInfo;
};

// Result records of the name functions, Windows layouts.
struct HostEntry {
  char* name;
  char** aliases;
  std::int16_t addressType;
  std::int16_t length;
  char** addresses;
};
struct ProtocolEntry {
  char* name;
  char** aliases;
  std::int16_t number;
};
struct ServiceEntry {
  char* name;
  char** aliases;
  std::int16_t port;  // network order
  char* protocol;
};
struct AddressInfo {
  int flags;
  int family;
  int socketType;
  int protocol;
  std::size_t addressLength;
  char* canonicalName;
  SocketAddress* address;
  AddressInfo* next;
};

// Windows values used by the layer.
constexpr int kAddressInfoPassive = 1;
constexpr int kAddressInfoNumericHost = 4;
constexpr int kNameInfoNumeric = 10;  // numeric host + numeric service
constexpr std::uint32_t kIoctlBytesReadable = 0x4004667F;
constexpr std::uint32_t kIoctlNonBlocking = 0x8004667E;
constexpr int kPeekFlag = 2;

#define TW_API TARNWICK_SOCKAPI
struct SocketFunctionTable {
  int(TW_API* WSAIoctl)(SocketHandle, std::uint32_t, void*, std::uint32_t, void*, std::uint32_t,
                        std::uint32_t*, void*, void*);
  int(TW_API* WSAFDIsSet)(SocketHandle, DescriptorSet*);
  int(TW_API* closesocket)(SocketHandle);
  int(TW_API* ioctlsocket)(SocketHandle, std::int32_t, std::uint32_t*);
  int(TW_API* WSAGetLastError)();
  int(TW_API* WSAStartup)(std::uint16_t, SocketServiceRecord*);
  int(TW_API* WSACleanup)();
  SocketHandle(TW_API* accept)(SocketHandle, SocketAddress*, int*);
  int(TW_API* bind)(SocketHandle, const SocketAddress*, int);
  int(TW_API* connect)(SocketHandle, const SocketAddress*, int);
  int(TW_API* getpeername)(SocketHandle, SocketAddress*, int*);
  int(TW_API* getsockname)(SocketHandle, SocketAddress*, int*);
  int(TW_API* getsockopt)(SocketHandle, int, int, char*, int*);
  std::uint32_t(TW_API* htonl)(std::uint32_t);
  std::uint16_t(TW_API* htons)(std::uint16_t);
  std::uint32_t(TW_API* inet_addr)(const char*);
  char*(TW_API* inet_ntoa)(std::uint32_t);
  int(TW_API* listen)(SocketHandle, int);
  std::uint32_t(TW_API* ntohl)(std::uint32_t);
  std::uint16_t(TW_API* ntohs)(std::uint16_t);
  int(TW_API* recv)(SocketHandle, char*, int, int);
  int(TW_API* recvfrom)(SocketHandle, char*, int, int, SocketAddress*, int*);
  int(TW_API* select)(int, DescriptorSet*, DescriptorSet*, DescriptorSet*, const WaitLimit*);
  int(TW_API* send)(SocketHandle, const char*, int, int);
  int(TW_API* sendto)(SocketHandle, const char*, int, int, const SocketAddress*, int);
  int(TW_API* setsockopt)(SocketHandle, int, int, const char*, int);
  int(TW_API* shutdown)(SocketHandle, int);
  SocketHandle(TW_API* socket)(int, int, int);
  HostEntry*(TW_API* gethostbyaddr)(const char*, int, int);
  HostEntry*(TW_API* gethostbyname)(const char*);
  ProtocolEntry*(TW_API* getprotobyname)(const char*);
  ProtocolEntry*(TW_API* getprotobynumber)(int);
  ServiceEntry*(TW_API* getservbyname)(const char*, const char*);
  ServiceEntry*(TW_API* getservbyport)(int, const char*);
  int(TW_API* gethostname)(char*, int);
  int(TW_API* getaddrinfo)(const char*, const char*, const AddressInfo*, AddressInfo**);
  void(TW_API* freeaddrinfo)(AddressInfo*);
  int(TW_API* getnameinfo)(const SocketAddress*, int, char*, std::uint32_t, char*, std::uint32_t, int);
};
#undef TW_API

// The exported names, in binding order (matches the table's members).
extern const char* const kSocketFunctionNames[38];

// The process-wide table. Entries are never null: a function that the
// library lacks is replaced by a stand-in that fails (see MissingEntryError).
SocketFunctionTable& SocketApi();

// Error code reported by a call through an entry that the loaded library
// does not export: WSAEOPNOTSUPP, "Operation not supported on Socket".
constexpr int kMissingEntryError = 10045;

// The Windows Sockets code of the last failed call on this thread (a call
// through a missing entry leaves kMissingEntryError).
int SocketLastError();

// Binding state.
bool LoadSocketLibrary(const std::string& fileName);
bool UnloadSocketLibrary();
int SocketLibraryRefs();
bool ResolverInMainLibrary();
bool ResolverInAddOnLibrary();
std::recursive_mutex& SocketLibraryLock();
SocketServiceRecord& SocketServiceInfo();

void DescriptorSetClear(DescriptorSet& set);
void DescriptorSetAdd(SocketHandle handle, DescriptorSet& set);

// Program start and end: load and start the sockets service, and the
// reverse. StartSocketLayer raises ESocketError (number 0) when the library
// cannot be loaded; the name is only ever changed by tests.
void StartSocketLayer(const std::string& libraryName = "ws2_32.dll");
void StopSocketLayer();

// Start and stop paired to a scope (program entry, test mains).
class SocketLayerScope {
 public:
  SocketLayerScope() { StartSocketLayer(); }
  ~SocketLayerScope() { StopSocketLayer(); }
  SocketLayerScope(const SocketLayerScope&) = delete;
  SocketLayerScope& operator=(const SocketLayerScope&) = delete;
};

namespace detail {
// Back-end hooks used by the portable binding logic (SocketApi.cpp).
// The thread's last socket error as the system keeps it (GetLastError on
// Windows, the POSIX adapters' own per-thread slot), and setting it.
int SystemSocketError();
void SetSystemSocketError(int code);
// Opens the main library and fills every entry (absent ones left null).
bool OpenMainLibrary(const std::string& fileName, SocketFunctionTable& table);
// Opens the add-on library and refills the three name entries from it;
// false when the add-on library is missing.
bool OpenAddOnLibrary(SocketFunctionTable& table);
void CloseLibraries();
// True where the system's resolver serves both roles (POSIX): then both
// resolver flags are on together.
bool AddOnResolverAlongsideMain();
// Sets both resolver flags as a library without (or with) the name
// functions would; lets tests reach the legacy resolution on any system.
void OverrideResolverFlags(bool inMain, bool inAddOn);
// Replaces null entries with failing stand-ins.
void FillMissingEntries(SocketFunctionTable& table);
}  // namespace detail

}  // namespace tarnwick
