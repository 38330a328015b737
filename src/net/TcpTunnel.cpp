// The HTTP proxy tunnel of TTCPBlockSocket: one "CONNECT" request, then the
// proxy's answer up to its empty line. Bytes the target sent after that line
// stay in PendingInput for the first receive.
#include "net/NetUtil.h"
#include "net/SocketError.h"
#include "net/TcpBlockSocket.h"

namespace tarnwick {

namespace {

constexpr int kInvalidArgument = 10022;

// Only 2xx opens the tunnel; the status code starts at the 10th byte of
// "HTTP/1.x nnn reason".
bool IsStatusLine(const std::string& line) { return line.size() > 11 && line.compare(0, 5, "HTTP/") == 0; }

}  // namespace

void TTCPBlockSocket::ConnectThroughTunnel(const std::string& host, const std::string& port) {
  // A line break inside the host would let the caller's text write request
  // headers of its own; such a host cannot name a target anyway.
  if (host.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
    LastSocketError = kInvalidArgument;
    CheckAndReport();
    return;
  }
  const std::string portText = std::to_string(LookupPort(port));
  SocksNegotiating = true;
  TBlockSocket::ConnectTo(TunnelHost, TunnelPort);
  if (LastSocketError != 0) {
    SocksNegotiating = false;
    return;
  }
  TunnelUp = false;
  const std::string target = IsIPv6Literal(host) ? "[" + host + "]" : host;
  std::string request = "CONNECT " + target + ":" + portText + " HTTP/1.0\r\n";
  if (!TunnelLogin.empty()) {
    request += "Proxy-Authorization: Basic " + Base64Encode(TunnelLogin + ":" + TunnelLoginPassword) + "\r\n";
  }
  request += "\r\n";
  SendText(request);
  while (LastSocketError == 0) {
    const std::string line = ReceiveUntil(TunnelReplyTimeout, "\n");
    if (LastSocketError != 0 || line.empty() || line == "\r") break;
    if (IsStatusLine(line)) TunnelUp = line[9] == '2';
  }
  if (LastSocketError == 0 && !TunnelUp) LastSocketError = kErrorSubsystemUnusable;
  TunnelPeerHost = target;
  TunnelPeerPort = portText;
  SocksNegotiating = false;
  CheckAndReport();
}

}  // namespace tarnwick
