// Portable half of the binding: reference counting, resolver flags, the
// missing-entry stand-ins, descriptor sets and program start/stop. The
// back ends (SocketApi_win.cpp, SocketApi_posix.cpp) only open libraries and
// fill the table.
#include "net/SocketApi.h"

#include <cstring>
#include <type_traits>

#include "net/SocketError.h"

namespace tarnwick {

const char* const kSocketFunctionNames[38] = {
    "WSAIoctl",       "__WSAFDIsSet",     "closesocket",   "ioctlsocket",   "WSAGetLastError",
    "WSAStartup",     "WSACleanup",       "accept",        "bind",          "connect",
    "getpeername",    "getsockname",      "getsockopt",    "htonl",         "htons",
    "inet_addr",      "inet_ntoa",        "listen",        "ntohl",         "ntohs",
    "recv",           "recvfrom",         "select",        "send",          "sendto",
    "setsockopt",     "shutdown",         "socket",        "gethostbyaddr", "gethostbyname",
    "getprotobyname", "getprotobynumber", "getservbyname", "getservbyport", "gethostname",
    "getaddrinfo",    "freeaddrinfo",     "getnameinfo"};

namespace {

struct BindingState {
  int refs = 0;
  bool resolverMain = false;
  bool resolverAddOn = false;
};

BindingState& State() {
  static BindingState state;
  return state;
}

template <typename R>
R FailureValue() {
  if constexpr (std::is_pointer_v<R>) {
    return nullptr;
  } else if constexpr (!std::is_void_v<R>) {
    return static_cast<R>(-1);  // -1, INVALID_SOCKET, INADDR_NONE, a non-zero resolver code
  }
}

// Stand-in for an entry the library does not export: a socket error like
// any other instead of a jump through a null address.
template <typename R, typename... A>
R TARNWICK_SOCKAPI MissingEntry(A...) {
  detail::SetSystemSocketError(kMissingEntryError);
  if constexpr (!std::is_void_v<R>) return FailureValue<R>();
}

template <typename R, typename... A>
void FillOne(R(TARNWICK_SOCKAPI*& entry)(A...)) {
  if (!entry) entry = &MissingEntry<R, A...>;
}

// Byte-order helpers need no library: used when it lacks its own.
std::uint16_t TARNWICK_SOCKAPI SwapToNet16(std::uint16_t v) {
  unsigned char b[2] = {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
  std::uint16_t out;
  std::memcpy(&out, b, 2);
  return out;
}
std::uint16_t TARNWICK_SOCKAPI SwapFromNet16(std::uint16_t v) {
  unsigned char b[2];
  std::memcpy(b, &v, 2);
  return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
}
std::uint32_t TARNWICK_SOCKAPI SwapToNet32(std::uint32_t v) {
  unsigned char b[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                        static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
  std::uint32_t out;
  std::memcpy(&out, b, 4);
  return out;
}
std::uint32_t TARNWICK_SOCKAPI SwapFromNet32(std::uint32_t v) {
  unsigned char b[4];
  std::memcpy(b, &v, 4);
  return static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
         static_cast<std::uint32_t>(b[2]) << 8 | b[3];
}
int TARNWICK_SOCKAPI LastErrorOfSystem() { return detail::SystemSocketError(); }

bool HasResolver(const SocketFunctionTable& t) { return t.getaddrinfo && t.freeaddrinfo && t.getnameinfo; }

}  // namespace

namespace detail {

void FillMissingEntries(SocketFunctionTable& t) {
  if (!t.htons) t.htons = &SwapToNet16;
  if (!t.ntohs) t.ntohs = &SwapFromNet16;
  if (!t.htonl) t.htonl = &SwapToNet32;
  if (!t.ntohl) t.ntohl = &SwapFromNet32;
  if (!t.WSAGetLastError) t.WSAGetLastError = &LastErrorOfSystem;
  FillOne(t.WSAIoctl);
  FillOne(t.WSAFDIsSet);
  FillOne(t.closesocket);
  FillOne(t.ioctlsocket);
  FillOne(t.WSAStartup);
  FillOne(t.WSACleanup);
  FillOne(t.accept);
  FillOne(t.bind);
  FillOne(t.connect);
  FillOne(t.getpeername);
  FillOne(t.getsockname);
  FillOne(t.getsockopt);
  FillOne(t.inet_addr);
  FillOne(t.inet_ntoa);
  FillOne(t.listen);
  FillOne(t.recv);
  FillOne(t.recvfrom);
  FillOne(t.select);
  FillOne(t.send);
  FillOne(t.sendto);
  FillOne(t.setsockopt);
  FillOne(t.shutdown);
  FillOne(t.socket);
  FillOne(t.gethostbyaddr);
  FillOne(t.gethostbyname);
  FillOne(t.getprotobyname);
  FillOne(t.getprotobynumber);
  FillOne(t.getservbyname);
  FillOne(t.getservbyport);
  FillOne(t.gethostname);
  FillOne(t.getaddrinfo);
  FillOne(t.freeaddrinfo);
  FillOne(t.getnameinfo);
}

void OverrideResolverFlags(bool inMain, bool inAddOn) {
  std::lock_guard<std::recursive_mutex> hold(SocketLibraryLock());
  State().resolverMain = inMain;
  State().resolverAddOn = inAddOn;
}

}  // namespace detail

SocketFunctionTable& SocketApi() {
  // Stand-ins from the start, so that a call before the first load fails
  // cleanly too.
  static SocketFunctionTable table = [] {
    SocketFunctionTable t{};
    detail::FillMissingEntries(t);
    return t;
  }();
  return table;
}

int SocketLastError() { return SocketApi().WSAGetLastError(); }

std::recursive_mutex& SocketLibraryLock() {
  static std::recursive_mutex lock;
  return lock;
}

SocketServiceRecord& SocketServiceInfo() {
  static SocketServiceRecord info{};
  return info;
}

int SocketLibraryRefs() {
  std::lock_guard<std::recursive_mutex> hold(SocketLibraryLock());
  return State().refs;
}
bool ResolverInMainLibrary() { return State().resolverMain; }
bool ResolverInAddOnLibrary() { return State().resolverAddOn; }

bool LoadSocketLibrary(const std::string& fileName) {
  const std::string name = fileName.empty() ? std::string("ws2_32.dll") : fileName;
  std::lock_guard<std::recursive_mutex> hold(SocketLibraryLock());
  BindingState& state = State();
  if (state.refs != 0) {
    ++state.refs;
    return true;
  }
  state.resolverMain = false;
  state.resolverAddOn = false;
  SocketFunctionTable fresh{};
  if (!detail::OpenMainLibrary(name, fresh)) return false;
  state.resolverMain = HasResolver(fresh);
  if (!state.resolverMain && detail::OpenAddOnLibrary(fresh)) {
    state.resolverAddOn = HasResolver(fresh);
  } else if (state.resolverMain && detail::AddOnResolverAlongsideMain()) {
    state.resolverAddOn = true;
  }
  detail::FillMissingEntries(fresh);
  SocketApi() = fresh;
  ++state.refs;
  return true;
}

bool UnloadSocketLibrary() {
  std::lock_guard<std::recursive_mutex> hold(SocketLibraryLock());
  BindingState& state = State();
  if (--state.refs < 0) state.refs = 0;
  if (state.refs == 0) {
    detail::CloseLibraries();
    // The addresses pointed into the libraries just freed: calls made after
    // the last unload fail through the stand-ins instead of jumping there.
    SocketFunctionTable empty{};
    detail::FillMissingEntries(empty);
    SocketApi() = empty;
  }
  return true;
}

void DescriptorSetClear(DescriptorSet& set) { set.count = 0; }

void DescriptorSetAdd(SocketHandle handle, DescriptorSet& set) {
  if (set.count < 64) set.handles[set.count++] = handle;
}

void StartSocketLayer(const std::string& libraryName) {
  SocketLibraryLock();  // created once, before anything can race for it
  if (!LoadSocketLibrary(libraryName)) {
    const std::string text = "Error loading Socket interface (ws2_32.dll)!";
    throw ESocketError(text, 0, text);
  }
  SocketApi().WSAStartup(0x0202, &SocketServiceInfo());
}

void StopSocketLayer() {
  SocketApi().WSACleanup();
  UnloadSocketLibrary();
}

}  // namespace tarnwick
