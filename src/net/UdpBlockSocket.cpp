// Direct path of TUDPBlockSocket; the relay path is in UdpRelay.cpp.
#include "net/UdpBlockSocket.h"

#include "net/SocketError.h"

namespace tarnwick {

int TUDPBlockSocket::SendDataTo(const void* buffer, int length) {
  SocksActive = false;
  if (!SocksServer.empty() && !AssociateRelay()) {
    LastSocketError = kErrorNoRecovery;
    LastSocketErrorText = GetErrorDesc(LastSocketError);
    return 0;
  }
  if (SocksActive) return SendRelayed(buffer, length);
  int result = TDgramBlockSocket::SendDataTo(buffer, length);
  // The socket is unconnected, so its peer reads back empty: a user must
  // receive (or connect again) before the next send has somewhere to go.
  ReadBothAddresses();
  return result;
}

int TUDPBlockSocket::ReceiveDataFrom(void* buffer, int length) {
  int received = TDgramBlockSocket::ReceiveDataFrom(buffer, length);
  if (SocksActive) return UnwrapRelayed(buffer, received);
  return received;
}

}  // namespace tarnwick
