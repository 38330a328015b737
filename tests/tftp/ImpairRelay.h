// The impairment relay (tarnwick-impair) as a test fixture: started with the
// given options in front of a server port on 127.0.0.1, its listening port
// read from its first line of output, stopped by its PID.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::testing_support {

class ImpairRelay {
 public:
  // options: the relay's own, e.g. {"--loss", "0.05", "--seed", "3"}.
  explicit ImpairRelay(std::uint16_t serverPort, const std::vector<std::string>& options = {},
                       const std::string& host = "127.0.0.1");
  ~ImpairRelay();
  ImpairRelay(const ImpairRelay&) = delete;
  ImpairRelay& operator=(const ImpairRelay&) = delete;

  // Empty when running; otherwise why the relay is not available.
  const std::string& Unavailable() const { return unavailable_; }
  std::uint16_t Port() const { return port_; }
  // Stops the relay (SIGTERM) and returns its statistics line, empty when it
  // did not stop cleanly.
  std::string Stop();

 private:
  std::string unavailable_;
  std::uint16_t port_ = 0;
  long pid_ = 0;
  int errorPipe_ = -1;
};

}  // namespace tarnwick::testing_support
