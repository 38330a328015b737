// A real TFTP server for interoperability tests: tftpd-hpa's in.tftpd,
// started in the foreground on 127.0.0.1 and a free high port, serving (and
// allowing uploads into) a fresh temporary folder. Stopped by its PID.
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick::testing_support {

class TftpdServer {
 public:
  TftpdServer();  // starts the server when in.tftpd is installed
  ~TftpdServer();
  TftpdServer(const TftpdServer&) = delete;
  TftpdServer& operator=(const TftpdServer&) = delete;

  // Empty when running; otherwise why the server is not available.
  const std::string& Unavailable() const { return unavailable_; }
  std::uint16_t Port() const { return port_; }
  const std::string& Folder() const { return folder_; }

  void WriteFile(const std::string& name, const std::string& bytes) const;
  std::string ReadFile(const std::string& name) const;
  bool Exists(const std::string& name) const;

 private:
  std::string unavailable_;
  std::string folder_;
  std::uint16_t port_ = 0;
  long pid_ = 0;
};

}  // namespace tarnwick::testing_support
