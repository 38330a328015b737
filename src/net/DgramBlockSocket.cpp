#include "net/DgramBlockSocket.h"

namespace tarnwick {

void TDgramBlockSocket::ConnectTo(const std::string& host, const std::string& port) {
  SetPeer(host, port);
  // Keeps an open socket (and its local port): only the peer changes.
  OpenForAddress(RemoteAddress);
  PendingInput.clear();
  ReportStatus(StatusConnected, host + ":" + port);
}

int TDgramBlockSocket::SendData(const void* buffer, int length) { return SendDataTo(buffer, length); }

int TDgramBlockSocket::ReceiveData(void* buffer, int length) { return ReceiveDataFrom(buffer, length); }

}  // namespace tarnwick
