// Connection settings shared by client protocol objects.
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick {

class TNetClient {
 public:
  virtual ~TNetClient() = default;

  // Host name or numeric IPv4/IPv6 address and port (number or service
  // name), both resolved by the socket layer when a transfer starts.
  std::string ServerHost = "127.0.0.1";
  std::string ServerPort = "0";
  // Local address a protocol may bind to; the TFTP engine lets the system
  // choose and never reads it.
  std::string LocalInterface = "0.0.0.0";
  // Longest wait for each single answer, in milliseconds; -1 waits forever.
  std::int32_t ReplyTimeout = 5000;
};

}  // namespace tarnwick
