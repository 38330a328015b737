// A running `tarnwick-cli serve` for end-to-end tests (POSIX): a fresh
// scratch folder holding ROOT (served), OUTSIDE (next to it, never to be
// touched) and the server's two output files; the server started on free
// loopback ports (--port 0) and its ports read from the "listening on" lines.
// Stopped by its PID.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::testing_support {

class ServeProcess {
 public:
  // extra: options after `serve ROOT --port 0 --listen 127.0.0.1 [--listen ::1]`.
  ServeProcess(const std::vector<std::string>& extra, bool ipv6);
  ~ServeProcess();
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  // Empty when listening; otherwise why not (with the server's own words).
  const std::string& Unavailable() const { return unavailable_; }
  std::uint16_t Port() const { return port4_; }
  std::uint16_t Port6() const { return port6_; }
  const std::string& Root() const { return root_; }
  const std::string& Outside() const { return outside_; }
  // Everything the server wrote to standard output (the JSON log) so far.
  std::string Log() const;
  // What it wrote to standard error (the listening and archive notices).
  std::string Said() const;
  void Signal(int number) const;

 private:
  std::string unavailable_, scratch_, root_, outside_;
  std::uint16_t port4_ = 0, port6_ = 0;
  long pid_ = 0;
};

std::string ReadWhole(const std::string& path);
void WriteWhole(const std::string& path, const std::string& bytes);

}  // namespace tarnwick::testing_support
