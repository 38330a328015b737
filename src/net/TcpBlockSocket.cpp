// Connect, listen, close and the address queries of TTCPBlockSocket. While
// a proxy stands between us and the peer, the addresses that matter are the
// ones the proxy reported, not those of our own connection to it.
#include "net/TcpBlockSocket.h"

#include "net/SocketError.h"
#include "net/SocksCodec.h"

namespace tarnwick {

TTCPBlockSocket::~TTCPBlockSocket() {
  // A destructor must not throw: the close below reads what is left on the
  // connection and would otherwise raise on the time-out that ends it.
  RaiseOnError = false;
  CloseEndpoint();
  FreeTlsObjects();
  closedByDerived_ = true;  // the base destructor must not close (and report) again
}

void TTCPBlockSocket::ConnectTo(const std::string& host, const std::string& port) {
  if (!SocksServer.empty()) {
    ConnectThroughSocks(host, port);
  } else if (!TunnelHost.empty()) {
    ConnectThroughTunnel(host, port);
  } else {
    TBlockSocket::ConnectTo(host, port);
  }
  if (!TlsOn) return;
  if (LastSocketError != 0) {
    const int code = LastSocketError;
    SetTlsState(false);
    LastSocketError = code;
    LastSocketErrorText = GetErrorDesc(code);
  } else {
    StartTls();
  }
}

void TTCPBlockSocket::ConnectThroughSocks(const std::string& host, const std::string& port) {
  TBlockSocket::ConnectTo(SocksServer, SocksServerPort);
  bool ok = LastSocketError == 0;
  if (ok) ok = SocksGreet();
  if (ok) ok = SocksSendRequest(kSocksCommandConnect, host, port);
  if (ok) ok = SocksReadReply();
  if (!ok) {
    // Only a finished negotiation counts; otherwise the address queries
    // would report a proxy conversation that never completed.
    SocksActive = false;
    if (LastSocketError == 0) LastSocketError = kErrorSubsystemUnusable;
  }
  SocksBoundHost = SocksReplyHost;
  SocksBoundPort = SocksReplyPort;
  SocksPeerHost = host;
  SocksPeerPort = port;
  CheckAndReport();
  ReportStatus(StatusConnected, host + ":" + port);
}

void TTCPBlockSocket::OpenListener() {
  if (!SocksServer.empty()) {
    std::string host = LocalAddressText();
    if (host == "0.0.0.0") host = LocalHostName();
    const std::string port = std::to_string(LocalPortNumber());
    TBlockSocket::ConnectTo(SocksServer, SocksServerPort);
    bool ok = LastSocketError == 0;
    if (ok) ok = SocksGreet();
    if (ok) ok = SocksSendRequest(kSocksCommandBind, host, port);
    if (ok) ok = SocksReadReply();
    if (!ok) {
      SocksActive = false;
      if (LastSocketError == 0) LastSocketError = kErrorNoRecovery;
    }
    // A proxy that bound its wildcard address is reachable under its own name.
    SocksBoundHost = SocksReplyHost == "0.0.0.0" ? SocksServer : SocksReplyHost;
    SocksBoundPort = SocksReplyPort;
    SocksPeerHost.clear();
    SocksPeerPort.clear();
  } else {
    RecordCallResult(SocketApi().listen(Handle, 0x7FFFFFFF));
    ReadBothAddresses();
  }
  CheckAndReport();
  ReportStatus(StatusListening, std::string());
}

void TTCPBlockSocket::CloseEndpoint() {
  if (TlsOn) StopTls();
  if (Handle != kNoSocket) {
    SocketApi().shutdown(Handle, 1);
    // Reading what is left spares the peer a reset that could destroy data
    // still on its way to it. A peer that keeps sending would keep us
    // reading for ever, so the close reads a bounded amount and then closes
    // regardless (the peer may then see a reset, which it has earned).
    DiscardInput(kCloseDiscardLimit);
  }
  TBlockSocket::CloseEndpoint();
}

std::string TTCPBlockSocket::LocalAddressText() {
  if (SocksActive) return SocksBoundHost;
  return TBlockSocket::LocalAddressText();
}

std::uint16_t TTCPBlockSocket::LocalPortNumber() {
  if (SocksActive) {
    // The bound port is always the decimal text of a 16-bit number that the
    // proxy sent; anything else reads as 0.
    unsigned value = 0;
    for (char c : SocksBoundPort) {
      if (c < '0' || c > '9' || value > 0xFFFF) return 0;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value > 0xFFFF ? 0 : static_cast<std::uint16_t>(value);
  }
  return TBlockSocket::LocalPortNumber();
}

std::string TTCPBlockSocket::RemoteAddressText() {
  if (SocksActive) return SocksPeerHost;
  if (TunnelUp) return TunnelPeerHost;
  return TBlockSocket::RemoteAddressText();
}

std::uint16_t TTCPBlockSocket::RemotePortNumber() {
  if (SocksActive) return LookupPort(SocksPeerPort);
  if (TunnelUp) return LookupPort(TunnelPeerPort);
  return TBlockSocket::RemotePortNumber();
}

}  // namespace tarnwick
