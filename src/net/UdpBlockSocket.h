// TUDPBlockSocket: a datagram socket fixed to UDP. Datagrams go directly
// unless SocksServer names a SOCKS5 proxy, in which case they are relayed
// through a UDP association held open by ControlSocket.
#pragma once

#include <memory>

#include "net/DgramBlockSocket.h"

namespace tarnwick {

class TTCPBlockSocket;

class TUDPBlockSocket : public TDgramBlockSocket {
 public:
  TUDPBlockSocket();
  ~TUDPBlockSocket() override;

  // The TCP connection to the proxy that holds the association; created at
  // the first relayed send.
  std::unique_ptr<TTCPBlockSocket> ControlSocket;

  int SendDataTo(const void* buffer, int length) override;
  int ReceiveDataFrom(void* buffer, int length) override;
  int SocketKind() override { return 2; }
  int SocketProtocolNumber() override { return 17; }

  // True when no proxy is set or the association is up.
  bool AssociateRelay();

 private:
  // The relay branch (UdpRelay.cpp): wrap a datagram in the relay header
  // and send it to the relay; strip the header of a relayed datagram of n
  // bytes in the buffer and return the data bytes left at its start.
  int SendRelayed(const void* buffer, int length);
  int UnwrapRelayed(void* buffer, int received);
};

}  // namespace tarnwick
