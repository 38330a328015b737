// POSIX adapters for the name functions: getaddrinfo results are copied into
// records of the Windows layout (and freed by the matching freeaddrinfo);
// the legacy lookups are converted into per-thread storage, which the layer
// reads under SocketLibraryLock just as it reads the shared storage of the
// Windows functions.
#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/PosixErrors.h"
#include "net/SocketApi.h"

namespace tarnwick {
namespace {

int NativeFamily(int family) {
  if (family == kFamilyIPv4) return AF_INET;
  if (family == kFamilyIPv6) return AF_INET6;
  return AF_UNSPEC;
}

int NativeAddressFlags(int flags) {
  int out = 0;
  if (flags & 1) out |= AI_PASSIVE;
  if (flags & 2) out |= AI_CANONNAME;
  if (flags & 4) out |= AI_NUMERICHOST;
  if (flags & 8) out |= AI_NUMERICSERV;
  return out;
}

void CopyAddress(const sockaddr* in, SocketAddress& out) {
  out.Clear();
  if (in->sa_family == AF_INET) {
    auto* v4 = reinterpret_cast<const sockaddr_in*>(in);
    out.family = kFamilyIPv4;
    out.port = v4->sin_port;
    std::memcpy(out.IPv4Bytes(), &v4->sin_addr, 4);
  } else if (in->sa_family == AF_INET6) {
    auto* v6 = reinterpret_cast<const sockaddr_in6*>(in);
    out.family = kFamilyIPv6;
    out.port = v6->sin6_port;
    std::memcpy(out.rest, &v6->sin6_flowinfo, 4);
    std::memcpy(out.IPv6Bytes(), &v6->sin6_addr, 16);
    std::memcpy(out.rest + 20, &v6->sin6_scope_id, 4);
  }
}

void FreeList(AddressInfo* list) {
  while (list) {
    AddressInfo* next = list->next;
    delete list->address;
    delete[] list->canonicalName;
    delete list;
    list = next;
  }
}

int getaddrinfoAdapter(const char* host, const char* service, const AddressInfo* hints,
                       AddressInfo** result) {
  if (!result) return 10022;
  *result = nullptr;
  addrinfo native{};
  if (hints) {
    native.ai_flags = NativeAddressFlags(hints->flags);
    native.ai_family = NativeFamily(hints->family);
    native.ai_socktype = hints->socketType;
    native.ai_protocol = hints->protocol;
  }
  addrinfo* list = nullptr;
  int code = ::getaddrinfo(host, service, hints ? &native : nullptr, &list);
  if (code != 0) return WindowsErrorFromResolver(code, errno);
  AddressInfo** tail = result;
  for (addrinfo* at = list; at; at = at->ai_next) {
    if (at->ai_family != AF_INET && at->ai_family != AF_INET6) continue;
    auto* node = new AddressInfo{};
    node->flags = hints ? hints->flags : 0;
    node->family = at->ai_family == AF_INET ? kFamilyIPv4 : kFamilyIPv6;
    node->socketType = at->ai_socktype;
    node->protocol = at->ai_protocol;
    node->address = new SocketAddress;
    CopyAddress(at->ai_addr, *node->address);
    node->addressLength = node->family == kFamilyIPv4 ? 16 : 28;
    if (at->ai_canonname) {
      std::size_t n = std::strlen(at->ai_canonname) + 1;
      node->canonicalName = new char[n];
      std::memcpy(node->canonicalName, at->ai_canonname, n);
    }
    *tail = node;
    tail = &node->next;
  }
  ::freeaddrinfo(list);
  return 0;
}

void freeaddrinfoAdapter(AddressInfo* list) { FreeList(list); }

int getnameinfoAdapter(const SocketAddress* address, int length, char* host, std::uint32_t hostLength,
                       char* service, std::uint32_t serviceLength, int flags) {
  if (!address) return 10014;
  sockaddr_storage native{};
  socklen_t n = 0;
  if (address->family == kFamilyIPv4 && length >= 16) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&native);
    v4->sin_family = AF_INET;
    v4->sin_port = address->port;
    std::memcpy(&v4->sin_addr, address->IPv4Bytes(), 4);
    n = sizeof(sockaddr_in);
  } else if (address->family == kFamilyIPv6 && length >= 28) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&native);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = address->port;
    std::memcpy(&v6->sin6_flowinfo, address->rest, 4);
    std::memcpy(&v6->sin6_addr, address->IPv6Bytes(), 16);
    std::memcpy(&v6->sin6_scope_id, address->rest + 20, 4);
    n = sizeof(sockaddr_in6);
  } else {
    return 10047;
  }
  int nativeFlags = 0;
  if (flags & 2) nativeFlags |= NI_NUMERICHOST;
  if (flags & 8) nativeFlags |= NI_NUMERICSERV;
  if (flags & 1) nativeFlags |= NI_NOFQDN;
  if (flags & 4) nativeFlags |= NI_NAMEREQD;
  if (flags & 16) nativeFlags |= NI_DGRAM;
  int code = ::getnameinfo(reinterpret_cast<sockaddr*>(&native), n, host, host ? hostLength : 0, service,
                           service ? serviceLength : 0, nativeFlags);
  return WindowsErrorFromResolver(code, errno);
}

// Storage of the legacy lookups, rebuilt by each call on this thread.
struct LegacyStorage {
  std::vector<std::string> texts;
  std::vector<char*> aliases{nullptr};
  std::vector<std::vector<char>> addressBytes;
  std::vector<char*> addresses;
  std::string name;
  std::string protocol;
  HostEntry host{};
  ProtocolEntry proto{};
  ServiceEntry serv{};
};
LegacyStorage& Legacy() {
  static thread_local LegacyStorage storage;
  return storage;
}

HostEntry* FromHostent(const hostent* h) {
  if (!h || h->h_addrtype != AF_INET) return nullptr;
  LegacyStorage& s = Legacy();
  s.name = h->h_name ? h->h_name : "";
  s.addressBytes.clear();
  for (char** a = h->h_addr_list; a && *a; ++a) s.addressBytes.emplace_back(*a, *a + 4);
  s.addresses.clear();
  for (auto& bytes : s.addressBytes) s.addresses.push_back(bytes.data());
  s.addresses.push_back(nullptr);
  s.host.name = s.name.data();
  s.host.aliases = s.aliases.data();
  s.host.addressType = kFamilyIPv4;
  s.host.length = 4;
  s.host.addresses = s.addresses.data();
  return &s.host;
}

HostEntry* gethostbynameAdapter(const char* name) {
  if (!name) return nullptr;
  return FromHostent(::gethostbyname(name));
}

HostEntry* gethostbyaddrAdapter(const char* address, int length, int type) {
  if (!address || type != kFamilyIPv4 || length != 4) return nullptr;
  return FromHostent(::gethostbyaddr(address, 4, AF_INET));
}

ProtocolEntry* FromProtoent(const protoent* p) {
  if (!p) return nullptr;
  LegacyStorage& s = Legacy();
  s.protocol = p->p_name ? p->p_name : "";
  s.proto.name = s.protocol.data();
  s.proto.aliases = s.aliases.data();
  s.proto.number = static_cast<std::int16_t>(p->p_proto);
  return &s.proto;
}
ProtocolEntry* getprotobynameAdapter(const char* name) {
  return name ? FromProtoent(::getprotobyname(name)) : nullptr;
}
ProtocolEntry* getprotobynumberAdapter(int number) { return FromProtoent(::getprotobynumber(number)); }

ServiceEntry* FromServent(const servent* e) {
  if (!e) return nullptr;
  LegacyStorage& s = Legacy();
  s.name = e->s_name ? e->s_name : "";
  s.protocol = e->s_proto ? e->s_proto : "";
  s.serv.name = s.name.data();
  s.serv.aliases = s.aliases.data();
  s.serv.port = static_cast<std::int16_t>(e->s_port);
  s.serv.protocol = s.protocol.data();
  return &s.serv;
}
ServiceEntry* getservbynameAdapter(const char* name, const char* protocol) {
  return name ? FromServent(::getservbyname(name, protocol)) : nullptr;
}
ServiceEntry* getservbyportAdapter(int port, const char* protocol) {
  return FromServent(::getservbyport(port, protocol));
}

}  // namespace

void FillPosixResolverEntries(SocketFunctionTable& t) {
  t.gethostbyaddr = &gethostbyaddrAdapter;
  t.gethostbyname = &gethostbynameAdapter;
  t.getprotobyname = &getprotobynameAdapter;
  t.getprotobynumber = &getprotobynumberAdapter;
  t.getservbyname = &getservbynameAdapter;
  t.getservbyport = &getservbyportAdapter;
  t.getaddrinfo = &getaddrinfoAdapter;
  t.freeaddrinfo = &freeaddrinfoAdapter;
  t.getnameinfo = &getnameinfoAdapter;
}

}  // namespace tarnwick
