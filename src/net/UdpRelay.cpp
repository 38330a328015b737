// Relay path of TUDPBlockSocket: the SOCKS 5 UDP association, held by a TCP
// control connection to the proxy, and the relay header around each
// datagram. Every relayed send sets the association up again on a fresh
// control connection.
#include <cstring>

#include "net/SocketError.h"
#include "net/SocksCodec.h"
#include "net/TcpBlockSocket.h"
#include "net/UdpBlockSocket.h"

namespace tarnwick {

// Both defined here, where the control socket's class is complete.
TUDPBlockSocket::TUDPBlockSocket() = default;

TUDPBlockSocket::~TUDPBlockSocket() {
  ControlSocket.reset();  // closes the association first
}

bool TUDPBlockSocket::AssociateRelay() {
  SocksActive = false;
  if (SocksServer.empty()) return true;
  if (!ControlSocket) ControlSocket = std::make_unique<TTCPBlockSocket>();
  TTCPBlockSocket& control = *ControlSocket;
  control.CloseEndpoint();
  control.OpenForHost(SocksServer);
  control.ConnectTo(SocksServer, SocksServerPort);
  if (control.LastSocketError != 0) return false;
  if (!IsBound) BindTo("0.0.0.0", "0");
  control.SocksLogin = SocksLogin;
  control.SocksLoginPassword = SocksLoginPassword;
  bool ok = control.SocksGreet();
  if (ok) {
    ok = control.SocksSendRequest(kSocksCommandUdpAssociate, LocalAddressText(),
                                  std::to_string(LocalPortNumber()));
  }
  if (ok) ok = control.SocksReadReply();
  if (!ok && LastSocketError == 0) LastSocketError = kErrorNoRecovery;
  SocksActive = control.SocksActive;
  SocksPeerHost = control.SocksReplyHost;
  SocksPeerPort = control.SocksReplyPort;
  return ok && LastSocketError == 0;
}

int TUDPBlockSocket::SendRelayed(const void* buffer, int length) {
  const std::string destinationHost = RemoteAddressText();
  const std::string destinationPort = std::to_string(RemotePortNumber());
  const std::string address = SocksEncodeAddress(destinationHost, destinationPort);
  SetPeer(SocksPeerHost, SocksPeerPort);
  std::string datagram = RelayHeaderHead() + address;
  if (length > 0) datagram.append(static_cast<const char*>(buffer), static_cast<std::size_t>(length));
  const int result = TDgramBlockSocket::SendDataTo(datagram.data(), static_cast<int>(datagram.size()));
  SetPeer(destinationHost, destinationPort);
  return result;
}

int TUDPBlockSocket::UnwrapRelayed(void* buffer, int received) {
  // A failed receive delivers nothing; the error is already recorded.
  if (received <= 0) return 0;
  const std::string datagram(static_cast<const char*>(buffer), static_cast<std::size_t>(received));
  const std::size_t next = SocksDecodeAddress(datagram);
  const std::size_t offset = RelayDataOffset(next, datagram.size());
  const std::size_t count = datagram.size() - offset;
  if (count > 0) std::memmove(buffer, datagram.data() + offset, count);
  SetPeer(SocksReplyHost, SocksReplyPort);
  return static_cast<int>(count);
}

}  // namespace tarnwick
