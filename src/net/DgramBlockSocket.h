// TDgramBlockSocket: every send is one datagram to RemoteAddress and every
// receive takes one datagram and makes its sender the RemoteAddress, so the
// stream-style operations (SendText, ReceiveChunk, ...) work a datagram at
// a time.
#pragma once

#include "net/SocksBlockSocket.h"

namespace tarnwick {

class TDgramBlockSocket : public TSocksBlockSocket {
 public:
  // Resolves the peer and creates the socket if none is open; no system
  // connect is made and nothing is sent.
  void ConnectTo(const std::string& host, const std::string& port) override;
  int SendData(const void* buffer, int length) override;
  int ReceiveData(void* buffer, int length) override;
};

}  // namespace tarnwick
