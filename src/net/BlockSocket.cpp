// Core of TBlockSocket: construction, the handle's life, name and port
// resolution (protocol-independent or legacy), bind and stream connect, and
// the address queries.
#include "net/BlockSocket.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "net/NetUtil.h"

namespace tarnwick {

namespace {

// Decimal text to a number, 0 when it is not one (or out of 16 bits).
std::uint16_t PortFromText(const std::string& text) {
  if (text.empty() || text.size() > 5) return 0;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value > 0xFFFF ? 0 : static_cast<std::uint16_t>(value);
}

int SystemFamily(AddressFamilyChoice choice) {
  if (choice == FamilyIPv4) return kFamilyIPv4;
  if (choice == FamilyIPv6) return kFamilyIPv6;
  return kFamilyUnspecified;
}

// Copies a resolver result's address, never more than the record holds.
void CopyResult(const AddressInfo& entry, SocketAddress& out) {
  out.Clear();
  std::size_t n = entry.addressLength;
  if (n > sizeof(SocketAddress)) n = sizeof(SocketAddress);
  if (entry.address) std::memcpy(&out, entry.address, n);
}

}  // namespace

TBlockSocket::TBlockSocket() {
  ServiceInfo = SocketServiceInfo();
  LocalAddress.Clear();
  RemoteAddress.Clear();
  DescriptorSetClear(DescriptorSet);
}

TBlockSocket::~TBlockSocket() {
  // Virtual dispatch does not reach derived classes from here; a class that
  // closes its own way (TCP) calls its own CloseEndpoint in its destructor.
  if (!closedByDerived_) CloseEndpoint();
  PendingOptions.clear();
}

void TBlockSocket::SetAddressFamily(AddressFamilyChoice family) {
  AddressFamily = family;
  DefaultAddressFamily = family;
}

void TBlockSocket::AttachHandle(SocketHandle handle) {
  Handle = handle;
  // Whoever made the handle may have bound or connected it: ask the system.
  ForgetHandleState();
  DescriptorSetClear(DescriptorSet);
  DescriptorSetAdd(handle, DescriptorSet);
  ReadBothAddresses();
  UsesIPv6 = RemoteAddress.family == kFamilyIPv6;
}

void TBlockSocket::CloseEndpoint() {
  SocketApi().closesocket(Handle);
  Handle = kNoSocket;
  ForgetHandleState();
  PendingOptions.clear();
  AddressFamily = DefaultAddressFamily;
  LastSocketError = 0;
  ReportStatus(StatusClosed, std::string());
}

void TBlockSocket::ConnectTo(const std::string& host, const std::string& port) {
  SocketAddress address;
  FillAddress(address, host, port);
  if (Handle == kNoSocket) OpenForAddress(address);
  // A system connect gives the handle a peer and may move its local address.
  ForgetHandleState();
  RecordCallResult(SocketApi().connect(Handle, &address, SocketAddressLength(address)));
  ReadBothAddresses();
  PendingInput.clear();
  SawBareCR = false;
  SawBareLF = false;
  CheckAndReport();
  ReportStatus(StatusConnected, host + ":" + port);
}

void TBlockSocket::BindTo(const std::string& host, const std::string& port) {
  LastSocketError = 0;
  // Any address and any port on a socket not yet created: the system picks
  // them at the first send or connect, so nothing needs doing now.
  if (Handle == kNoSocket && AddressFamily == FamilyAny && host == "0.0.0.0" && port == "0") return;
  SocketAddress address;
  FillAddress(address, host, port);
  if (Handle == kNoSocket) OpenForAddress(address);
  RecordCallResult(SocketApi().bind(Handle, &address, SocketAddressLength(address)));
  localAddressKnown_ = false;
  ReadLocalAddress();
  PendingInput.clear();
  IsBound = true;
  CheckAndReport();
  ReportStatus(StatusBound, host + ":" + port);
}

void TBlockSocket::OpenForHost(const std::string& host) {
  LastSocketError = 0;
  if (Handle != kNoSocket) return;
  SocketAddress address;
  FillAddress(address, host, "0");
  OpenForAddress(address);
}

void TBlockSocket::OpenForAddress(const SocketAddress& address) {
  LastSocketError = 0;
  if (Handle != kNoSocket) return;
  PendingInput.clear();
  IsBound = false;
  UsesIPv6 = address.family == kFamilyIPv6;
  Handle = SocketApi().socket(address.family, SocketKind(), SocketProtocolNumber());
  if (Handle == kNoSocket) LastSocketError = SocketLastError();
  ForgetHandleState();
  knownHandle_ = Handle;
  handleNeverConnected_ = Handle != kNoSocket;
  DescriptorSetClear(DescriptorSet);
  DescriptorSetAdd(Handle, DescriptorSet);
  CheckAndReport();
  ReportStatus(StatusCreated, UsesIPv6 ? "IPv6" : "IPv4");
  ApplyPendingOptions();
  if (SocketCreatedHandler) SocketCreatedHandler(*this);
}

bool TBlockSocket::UseEnhancedResolver() const {
  return ResolverInMainLibrary() || (AddressFamily == FamilyIPv6 && ResolverInAddOnLibrary());
}

void TBlockSocket::FillAddress(SocketAddress& address, const std::string& host, const std::string& port) {
  ReportStatus(StatusResolving, host + ":" + port);
  address.Clear();
  if (ResolverInAddOnLibrary() && AddressFamily == FamilyAny) {
    if (IsIPv4Literal(host))
      AddressFamily = FamilyIPv4;
    else if (IsIPv6Literal(host))
      AddressFamily = FamilyIPv6;
    else
      AddressFamily = FavourIPv4 ? FamilyIPv4 : FamilyIPv6;
  }
  if (UseEnhancedResolver()) {
    FillAddressEnhanced(address, host, port);
  } else {
    FillAddressLegacy(address, host, port);
  }
  ReportStatus(StatusResolved, host + ":" + port);
}

void TBlockSocket::FillAddressEnhanced(SocketAddress& address, const std::string& host,
                                       const std::string& port) {
  AddressInfo hints{};
  if (Handle == kNoSocket)
    hints.family = SystemFamily(AddressFamily);
  else
    hints.family = UsesIPv6 ? kFamilyIPv6 : kFamilyIPv4;
  hints.socketType = SocketKind();
  hints.protocol = SocketProtocolNumber();
  AddressInfo* list = nullptr;
  int code;
  SocketFunctionTable& api = SocketApi();
  if (hints.socketType == 3) {
    hints.socketType = 0;
    hints.protocol = 0;
    code = api.getaddrinfo(host.c_str(), nullptr, &hints, &list);
  } else if (host == "0.0.0.0") {
    hints.flags = kAddressInfoPassive;
    code = api.getaddrinfo(nullptr, port.c_str(), &hints, &list);
  } else if (host == "127.0.0.1") {
    // No host and no passive flag: the system lists its loopback addresses.
    code = api.getaddrinfo(nullptr, port.c_str(), &hints, &list);
  } else {
    code = api.getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
  }
  if (code != 0) return;  // a failed lookup leaves the record empty
  SocketAddress v4, v6;
  bool haveV4 = false, haveV6 = false;
  for (AddressInfo* at = list; at; at = at->next) {
    if (at->family == kFamilyIPv4 && !haveV4) {
      CopyResult(*at, v4);
      haveV4 = true;
    } else if (at->family == kFamilyIPv6 && !haveV6) {
      CopyResult(*at, v6);
      haveV6 = true;
    }
  }
  if (haveV4 && haveV6)
    address = FavourIPv4 ? v4 : v6;
  else if (haveV6)
    address = v6;
  else if (haveV4)
    address = v4;
  api.freeaddrinfo(list);
}

void TBlockSocket::FillAddressLegacy(SocketAddress& address, const std::string& host,
                                     const std::string& port) {
  std::lock_guard<std::recursive_mutex> hold(SocketLibraryLock());
  SocketFunctionTable& api = SocketApi();
  address.family = kFamilyIPv4;
  ServiceEntry* service = nullptr;
  if (ProtocolEntry* protocol = api.getprotobynumber(SocketProtocolNumber())) {
    service = api.getservbyname(port.c_str(), protocol->name);
  }
  if (service)
    address.port = static_cast<std::uint16_t>(service->port);
  else
    address.port = api.htons(PortFromText(port));
  std::uint32_t ip = 0xFFFFFFFFu;
  if (host != "255.255.255.255") {
    ip = api.inet_addr(host.c_str());
    if (ip == 0xFFFFFFFFu) {
      HostEntry* entry = api.gethostbyname(host.c_str());
      if (entry && entry->addresses && entry->addresses[0] && entry->length >= 4) {
        std::memcpy(&ip, entry->addresses[0], 4);
      }
    }
  }
  std::memcpy(address.IPv4Bytes(), &ip, 4);
}

void TBlockSocket::SetPeer(const std::string& host, const std::string& port) {
  FillAddress(RemoteAddress, host, port);
}

std::string TBlockSocket::AddressText(const SocketAddress& address) {
  if (UseEnhancedResolver()) {
    char host[1025] = {0};
    char service[32] = {0};
    int code = SocketApi().getnameinfo(&address, SocketAddressLength(address), host, sizeof(host), service,
                                       sizeof(service), kNameInfoNumeric);
    return code == 0 ? std::string(host) : std::string();
  }
  std::uint32_t ip;
  std::memcpy(&ip, address.IPv4Bytes(), 4);
  const char* text = SocketApi().inet_ntoa(ip);
  return text ? std::string(text) : std::string();
}

std::uint16_t TBlockSocket::AddressPort(const SocketAddress& address) {
  return SocketApi().ntohs(address.port);
}

std::string TBlockSocket::LocalAddressText() { return AddressText(LocalAddress); }
std::string TBlockSocket::RemoteAddressText() { return AddressText(RemoteAddress); }
std::uint16_t TBlockSocket::LocalPortNumber() { return AddressPort(LocalAddress); }
std::uint16_t TBlockSocket::RemotePortNumber() { return AddressPort(RemoteAddress); }

void TBlockSocket::ForgetHandleState() {
  knownHandle_ = kNoSocket;
  handleNeverConnected_ = false;
  localAddressKnown_ = false;
  knownLocalAddress_.Clear();
}

void TBlockSocket::ReadLocalAddress() {
  LocalAddress.Clear();
  int length = sizeof(SocketAddress);
  const int result = SocketApi().getsockname(Handle, &LocalAddress, &length);
  // Port 0 means not bound yet: the system picks the port at the first
  // send, so that answer must be asked again.
  if (result == 0 && KnownHandle() && handleNeverConnected_ && LocalAddress.port != 0) {
    knownLocalAddress_ = LocalAddress;
    localAddressKnown_ = true;
  }
}

void TBlockSocket::ReadRemoteAddress() {
  RemoteAddress.Clear();
  int length = sizeof(SocketAddress);
  SocketApi().getpeername(Handle, &RemoteAddress, &length);
}

// Runs after every direct datagram send, so it answers from what is known
// where the system's answer cannot differ: the record is the one the system
// would fill, and an unconnected handle's peer lookup fails, leaving the
// remote record empty.
void TBlockSocket::ReadBothAddresses() {
  const bool known = KnownHandle();
  if (known && localAddressKnown_) {
    LocalAddress = knownLocalAddress_;
  } else {
    ReadLocalAddress();
  }
  if (known && handleNeverConnected_) {
    RemoteAddress.Clear();
  } else {
    ReadRemoteAddress();
  }
}

void TBlockSocket::LookupHost(const std::string& name, std::vector<std::string>& list) {
  list.clear();
  SocketFunctionTable& api = SocketApi();
  if (UseEnhancedResolver()) {
    AddressInfo hints{};
    hints.socketType = SocketKind();
    hints.protocol = SocketProtocolNumber();
    AddressInfo* results = nullptr;
    if (api.getaddrinfo(name.c_str(), nullptr, &hints, &results) == 0) {
      for (AddressInfo* at = results; at; at = at->next) {
        if (at->family == kFamilyIPv4 && AddressFamily == FamilyIPv6) continue;
        if (at->family == kFamilyIPv6 && AddressFamily == FamilyIPv4) continue;
        SocketAddress address;
        CopyResult(*at, address);
        char host[1025] = {0};
        char service[32] = {0};
        if (api.getnameinfo(&address, static_cast<int>(at->addressLength), host, sizeof(host), service,
                            sizeof(service), kNameInfoNumeric) == 0) {
          list.emplace_back(host);
        }
      }
      api.freeaddrinfo(results);
    }
  } else if (api.inet_addr(name.c_str()) != 0xFFFFFFFFu) {
    list.push_back(name);
  } else {
    std::lock_guard<std::recursive_mutex> hold(SocketLibraryLock());
    HostEntry* entry = api.gethostbyname(name.c_str());
    if (entry && entry->addresses && entry->length >= 4) {
      for (char** at = entry->addresses; *at; ++at) {
        auto* b = reinterpret_cast<unsigned char*>(*at);
        char text[16];
        std::snprintf(text, sizeof(text), "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
        list.emplace_back(text);
      }
    }
  }
  if (list.empty()) list.emplace_back("0.0.0.0");
}

std::string TBlockSocket::LookupFirstAddress(const std::string& name) {
  std::vector<std::string> list;
  LookupHost(name, list);
  return list.front();
}

std::uint16_t TBlockSocket::LookupPort(const std::string& port) {
  SocketFunctionTable& api = SocketApi();
  if (UseEnhancedResolver()) {
    AddressInfo hints{};
    hints.flags = kAddressInfoPassive;
    hints.socketType = SocketKind();
    hints.protocol = SocketProtocolNumber();
    AddressInfo* results = nullptr;
    std::uint16_t value = 0;
    if (api.getaddrinfo(nullptr, port.c_str(), &hints, &results) == 0) {
      if (results && results->address && (results->family == kFamilyIPv4 || results->family == kFamilyIPv6)) {
        value = api.ntohs(results->address->port);
      }
      api.freeaddrinfo(results);
    }
    return value;
  }
  std::lock_guard<std::recursive_mutex> hold(SocketLibraryLock());
  if (ProtocolEntry* protocol = api.getprotobynumber(SocketProtocolNumber())) {
    if (ServiceEntry* service = api.getservbyname(port.c_str(), protocol->name)) {
      return api.ntohs(static_cast<std::uint16_t>(service->port));
    }
  }
  return PortFromText(port);
}

std::string TBlockSocket::LocalHostName() {
  char name[255] = {0};
  SocketApi().gethostname(name, 254);
  name[254] = '\0';
  std::string text(name);
  return text.empty() ? std::string("127.0.0.1") : text;
}

void TBlockSocket::ParseIPv6Literal(const std::string& text, SocketAddress& address) {
  address.Clear();
  if (!ResolverInMainLibrary() && !ResolverInAddOnLibrary()) return;
  AddressInfo hints{};
  hints.family = kFamilyIPv6;
  hints.flags = kAddressInfoNumericHost;
  AddressInfo* results = nullptr;
  if (SocketApi().getaddrinfo(text.c_str(), nullptr, &hints, &results) != 0) return;
  if (results && results->family == kFamilyIPv6) CopyResult(*results, address);
  SocketApi().freeaddrinfo(results);
}

std::string TBlockSocket::IPv6AddressText(const SocketAddress& address) {
  if (!ResolverInMainLibrary() && !ResolverInAddOnLibrary()) return std::string();
  char host[1025] = {0};
  char service[32] = {0};
  if (SocketApi().getnameinfo(&address, 28, host, sizeof(host), service, sizeof(service), kNameInfoNumeric) !=
      0) {
    return std::string();
  }
  return host;
}

int TBlockSocket::SocketKind() { return 0; }
int TBlockSocket::SocketProtocolNumber() { return 0; }

}  // namespace tarnwick
