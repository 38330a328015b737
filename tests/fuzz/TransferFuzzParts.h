// What both transfer fuzzers need around the engine they drive: an abort
// that libFuzzer reports as a finding, a sink that only counts, a source of
// a fixed 3000 zero bytes, the peer's loopback address and the cutting of
// the input into datagrams.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
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

// The input as datagrams separated by the byte sequence "|#" (empty pieces
// skipped): step(selector, datagram) with the piece's first byte, which
// picks the sender or a time-out, and the rest in a string of its own so
// that the sanitizer knows its exact bounds.
template <class Step>
void ForEachDatagram(std::string_view input, Step step) {
  std::size_t at = 0;
  while (at <= input.size()) {
    std::size_t end = input.find("|#", at);
    if (end == std::string_view::npos) end = input.size();
    std::string_view piece = input.substr(at, end - at);
    at = end + 2;
    if (piece.empty()) continue;
    const std::string datagram(piece.substr(1));
    step(static_cast<unsigned char>(piece[0]), datagram);
  }
}

}  // namespace tarnwick::fuzz
