// Drives a ClientTransfer packet by packet without sockets: in-memory and
// synthetic sinks and sources, a fake clock, packet builders for the
// server's side, and a small in-memory server that plays both directions
// with or without options and windows.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tftp/ClientTransfer.h"

namespace tarnwick::testing_support {

using tftp::ClientTransfer;
using tftp::Outbox;
using tftp::TimePoint;
using tftp::TransferKind;
using tftp::TransferRequest;
using tftp::TransferState;

inline SocketAddress V4(std::uint8_t last, std::uint16_t port) {
  SocketAddress a{};
  a.family = kFamilyIPv4;
  const std::uint8_t p[2] = {static_cast<std::uint8_t>(port >> 8), static_cast<std::uint8_t>(port)};
  std::memcpy(&a.port, p, 2);
  const std::uint8_t ip[4] = {192, 0, 2, last};
  std::memcpy(a.IPv4Bytes(), ip, 4);
  return a;
}

inline std::string Word(std::uint16_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }
inline std::string DataPacket(std::uint16_t block, const std::string& bytes) {
  return Word(3) + Word(block) + bytes;
}
inline std::string AckPacket(std::uint16_t block) { return Word(4) + Word(block); }
inline std::string ErrorPacket(std::uint16_t code, const std::string& text) {
  return Word(5) + Word(code) + text + std::string(1, '\0');
}
inline std::string OackPacket(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string p = Word(6);
  for (const auto& [name, value] : pairs) p += name + std::string(1, '\0') + value + std::string(1, '\0');
  return p;
}
inline std::uint16_t Op(const std::string& p) {
  return p.size() < 2 ? 0
                      : static_cast<std::uint16_t>((static_cast<unsigned char>(p[0]) << 8) |
                                                   static_cast<unsigned char>(p[1]));
}
inline std::uint16_t Num(const std::string& p) {
  return p.size() < 4 ? 0
                      : static_cast<std::uint16_t>((static_cast<unsigned char>(p[2]) << 8) |
                                                   static_cast<unsigned char>(p[3]));
}
// Request options as name -> value (names lower case).
inline std::map<std::string, std::string> RequestOptions(const std::string& request) {
  std::vector<std::string> fields;
  std::size_t at = 2;
  while (at < request.size()) {
    std::size_t end = request.find('\0', at);
    if (end == std::string::npos) break;
    fields.push_back(request.substr(at, end - at));
    at = end + 1;
  }
  std::map<std::string, std::string> options;
  for (std::size_t i = 2; i + 1 < fields.size(); i += 2) options[fields[i]] = fields[i + 1];
  return options;
}

class MemorySink : public tftp::FileSink {
 public:
  bool Write(std::string_view bytes) override {
    ++writes;
    if (failAfter >= 0 && static_cast<long long>(data.size()) >= failAfter) return false;
    data.append(bytes);
    return true;
  }
  std::string data;
  long long failAfter = -1;
  int writes = 0;
};

class MemorySource : public tftp::FileSource {
 public:
  explicit MemorySource(std::string d = {}) : data(std::move(d)) {}
  std::uint64_t Size() const override { return data.size(); }
  long long Read(std::uint64_t offset, char* out, std::size_t length) override {
    ++reads;
    if (failAt >= 0 && static_cast<long long>(offset) >= failAt) return -1;
    if (offset >= data.size()) return 0;
    const std::size_t n = std::min<std::size_t>(length, data.size() - static_cast<std::size_t>(offset));
    std::memcpy(out, data.data() + offset, n);
    return static_cast<long long>(n);
  }
  std::string data;
  long long failAt = -1;
  int reads = 0;
};

// A byte pattern that depends on its offset only: files of any size can be
// generated and checked without being stored.
inline char PatternByte(std::uint64_t offset) {
  return static_cast<char>((offset * 2654435761u) >> 13 ^ (offset >> 16));
}

class PatternSource : public tftp::FileSource {
 public:
  explicit PatternSource(std::uint64_t size) : size_(size) {}
  std::uint64_t Size() const override { return size_; }
  long long Read(std::uint64_t offset, char* out, std::size_t length) override {
    if (offset >= size_) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
    for (std::size_t i = 0; i < n; ++i) out[i] = PatternByte(offset + i);
    return static_cast<long long>(n);
  }

 private:
  std::uint64_t size_;
};

// Counts and checks bytes against the pattern; stores nothing.
class PatternSink : public tftp::FileSink {
 public:
  bool Write(std::string_view bytes) override {
    for (char c : bytes) {
      if (c != PatternByte(size)) ++mismatches;
      ++size;
    }
    return true;
  }
  std::uint64_t size = 0;
  std::uint64_t mismatches = 0;
};

// One transfer and what it sends, on a fake clock.
struct Harness {
  Harness(TransferRequest request, tftp::FileSink* sink, tftp::FileSource* source,
          SocketAddress serverAddress = V4(1, 69))
      : server(serverAddress), transfer(std::move(request), serverAddress, sink, source) {}

  // What the transfer put into the Outbox since the last call.
  std::vector<Outbox::Datagram> Take() {
    std::vector<Outbox::Datagram> sent;
    for (std::size_t i = 0; i < out.Count(); ++i) sent.push_back(out[i]);
    out.Clear();
    return sent;
  }
  std::vector<Outbox::Datagram> Start() {
    transfer.Start(now, out);
    return Take();
  }
  std::vector<Outbox::Datagram> Feed(const SocketAddress& from, const std::string& packet) {
    transfer.OnDatagram(from, packet, now, out);
    return Take();
  }
  // Moves the clock to the deadline and fires the timer.
  std::vector<Outbox::Datagram> Expire() {
    if (transfer.Deadline() == TimePoint::max()) {
      ADD_FAILURE() << "no deadline armed";
      return {};
    }
    now = transfer.Deadline();
    transfer.OnTimer(now, out);
    return Take();
  }

  SocketAddress server;
  ClientTransfer transfer;
  Outbox out;
  TimePoint now = TimePoint() + std::chrono::hours(1);
};

inline bool SameEndpoint(const SocketAddress& a, const SocketAddress& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace tarnwick::testing_support
