// A UDP peer on 127.0.0.1 that a test drives packet by packet: it stands in
// for a TFTP server (including badly behaved ones) and records every datagram
// it receives. Plain system sockets, independent of the socket layer under
// test. Every wait is bounded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarnwick::testing_support {

class ScriptedPeer {
 public:
  ScriptedPeer();  // bound to 127.0.0.1 on a port the system chooses
  // Bound to ::1 instead when ipv6 is true.
  explicit ScriptedPeer(bool ipv6);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  std::uint16_t Port() const { return port_; }
  // One datagram within timeoutMs, or nothing; the sender becomes the target
  // of Reply.
  std::optional<std::string> Receive(int timeoutMs = 3000);
  // To the sender of the last datagram received (through another peer's
  // socket when from is given, to model a server answering from a new port).
  void Reply(const std::string& bytes);
  void SendTo(std::uint16_t port, const std::string& bytes);
  std::uint16_t LastSenderPort() const { return lastSenderPort_; }

 private:
  std::intptr_t socket_;
  std::uint16_t port_ = 0;
  std::uint16_t lastSenderPort_ = 0;
  bool ipv6_ = false;
};

// Packet helpers for scripts.
std::string Data(std::uint16_t block, const std::string& bytes);
std::string Ack(std::uint16_t block);
std::string Error(std::uint16_t code, const std::string& textWithTerminator);
std::string Pattern(std::size_t size, unsigned seed = 1);

}  // namespace tarnwick::testing_support
