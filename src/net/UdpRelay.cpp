// Relay path of TUDPBlockSocket: the SOCKS5 UDP association and the relay
// header. Provisional: until the stream socket and the SOCKS steps exist,
// an association cannot be made, so a socket with SocksServer set fails
// every send with 11003 and sends nothing.
#include <cstring>

#include "net/SocketError.h"
#include "net/UdpBlockSocket.h"

#if __has_include("net/TcpBlockSocket.h")
#include "net/TcpBlockSocket.h"
#else
namespace tarnwick {
// Stand-in definition so that the owning pointer can be destroyed; replaced
// by the real class when its header exists.
class TTCPBlockSocket : public TSocksBlockSocket {};
}  // namespace tarnwick
#endif

namespace tarnwick {

// Both defined here, where the control socket's class is complete.
TUDPBlockSocket::TUDPBlockSocket() = default;

TUDPBlockSocket::~TUDPBlockSocket() {
  ControlSocket.reset();  // closes the association first
}

bool TUDPBlockSocket::AssociateRelay() {
  SocksActive = false;
  if (SocksServer.empty()) return true;
  if (LastSocketError == 0) LastSocketError = kErrorNoRecovery;
  return false;
}

int TUDPBlockSocket::SendRelayed(const void*, int) {
  LastSocketError = kErrorNoRecovery;
  LastSocketErrorText = GetErrorDesc(LastSocketError);
  return 0;
}

int TUDPBlockSocket::UnwrapRelayed(void*, int received) {
  // Nothing can be relayed yet; a failed receive delivers no data.
  return received < 0 ? 0 : received;
}

}  // namespace tarnwick
