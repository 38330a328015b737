// A second real TFTP server for interoperability tests: atftpd, which unlike
// tftpd-hpa agrees to windowsize (RFC 7440). It conflicts with the tftpd-hpa
// package, so scripts/setup-debian.sh unpacks it into /opt/tarnwick-peers
// instead of installing it. Started in the foreground on 127.0.0.1 and a
// free high port, serving (and accepting uploads into) a fresh temporary
// folder; stopped by its PID.
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick::testing_support {

class AtftpdServer {
 public:
  AtftpdServer();
  ~AtftpdServer();
  AtftpdServer(const AtftpdServer&) = delete;
  AtftpdServer& operator=(const AtftpdServer&) = delete;

  // Empty when running; otherwise why the server is not available.
  const std::string& Unavailable() const { return unavailable_; }
  std::uint16_t Port() const { return port_; }
  const std::string& Folder() const { return folder_; }

  void WriteFile(const std::string& name, const std::string& bytes) const;
  std::string ReadFile(const std::string& name) const;
  // atftpd writes an upload's last block after it has acknowledged it: the
  // file once it has reached `size` bytes (bounded wait), or as it is then.
  std::string ReadUpload(const std::string& name, std::size_t size, int timeoutMs = 3000) const;
  bool Exists(const std::string& name) const;

  // Where the binary is looked for: $TARNWICK_ATFTPD, the project's peer
  // folder, then the system.
  static std::string FindBinary();

 private:
  std::string unavailable_;
  std::string folder_;
  std::string log_;
  std::uint16_t port_ = 0;
  long pid_ = 0;
};

}  // namespace tarnwick::testing_support
