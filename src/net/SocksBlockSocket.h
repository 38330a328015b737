// TSocksBlockSocket: the SOCKS client settings and protocol steps shared by
// the stream socket (proxy connect and bind) and the UDP socket (relay
// association). The protocol steps are defined in Socks*.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "net/BlockSocket.h"

namespace tarnwick {

class TSocksBlockSocket : public TBlockSocket {
 public:
  std::string SocksServer;                 // proxy host; empty = no SOCKS
  std::string SocksServerPort = "1080";
  std::int32_t SocksReplyTimeout = 60000;  // ms, each reply read
  std::string SocksLogin;
  std::string SocksLoginPassword;
  bool SocksActive = false;                // the last negotiation succeeded
  bool SocksRemoteResolve = true;          // names go to the proxy unresolved
  std::int32_t SocksReplyCode = 0;         // -1 while a reply is awaited
  std::string SocksReplyHost;
  std::string SocksReplyPort;
  std::string SocksBoundHost;
  std::string SocksBoundPort;
  std::string SocksPeerHost;               // TCP: the target; UDP: the relay
  std::string SocksPeerPort;
  bool SocksNegotiating = false;
  std::uint8_t SocksVersion = 0;           // 0 = SOCKS5, anything else = SOCKS4

  bool SocksGreet();
  bool SocksSendRequest(std::uint8_t command, const std::string& host, const std::string& port);
  bool SocksReadReply();
  std::string SocksEncodeAddress(const std::string& host, const std::string& port);
  // 1-based position just after the address and port of a reply.
  std::size_t SocksDecodeAddress(const std::string& reply);
};

}  // namespace tarnwick
