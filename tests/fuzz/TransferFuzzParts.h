// What both transfer fuzzers need around the engine they drive: an abort
// that libFuzzer reports as a finding, a sink that only counts, a source of
// a fixed 3000 zero bytes and the peer's loopback address.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "net/SocketAddress.h"
#include "tftp/ClientTransfer.h"

namespace tarnwick::fuzz {

inline void Require(bool condition) {
  if (!condition) std::abort();
}

class CountingSink : public tftp::FileSink {
 public:
  bool Write(std::string_view bytes) override {
    size += bytes.size();
    return true;
  }
  std::uint64_t size = 0;
};
class ZeroSource : public tftp::FileSource {
 public:
  std::uint64_t Size() const override { return 3000; }
  long long Read(std::uint64_t offset, char* out, std::size_t length) override {
    if (offset >= 3000) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, 3000 - offset));
    std::memset(out, 0, n);
    return static_cast<long long>(n);
  }
};

inline SocketAddress LoopbackPeer(std::uint16_t port) {
  SocketAddress a{};
  a.family = kFamilyIPv4;
  a.port = port;
  a.rest[0] = 127;
  a.rest[3] = 1;
  return a;
}

}  // namespace tarnwick::fuzz
