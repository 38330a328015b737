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
#include "tftp/TransferDriver.h"

namespace tarnwick::testing_support {

using tftp::ClientTransfer;
using tftp::Clock;
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
  std::string WriteFailure() const override { return failure; }
  bool DiskFull() const override { return diskFull; }
  bool FlushToDisk() override { return !flushFails; }
  std::string data;
  long long failAfter = -1;
  bool flushFails = false;
  int writes = 0;
  std::string failure;  // what WriteFailure and DiskFull say
  bool diskFull = true;
};

// A file in memory, or a stream when `stream` is set (reads below a release are faults).
class MemorySource : public tftp::FileSource {
 public:
  explicit MemorySource(std::string d = {}) : data(std::move(d)), startSize(data.size()) {}
  std::uint64_t Size() const override { return stream ? 0 : startSize; }
  bool SizeKnown() const override { return !stream; }
  void Release(std::uint64_t offset) override { released = std::max(released, offset); }
  std::string Changed() override {
    ++changedCalls;
    return changed;
  }
  std::string ReadFailure() const override { return failure; }
  long long Read(std::uint64_t offset, char* out, std::size_t length) override {
    ++reads;
    if (offset < released) ++readsBelowRelease;
    held =
        std::max<std::uint64_t>(held, offset + length - std::min<std::uint64_t>(released, offset + length));
    if (failAt >= 0 && static_cast<long long>(offset) >= failAt) return -1;
    if (offset >= data.size()) return 0;
    const std::size_t n = std::min<std::size_t>(length, data.size() - static_cast<std::size_t>(offset));
    std::memcpy(out, data.data() + offset, n);
    return static_cast<long long>(n);
  }
  std::string data;
  std::uint64_t startSize;
  long long failAt = -1;
  int reads = 0;
  bool stream = false;
  std::string changed, failure;  // what Changed and ReadFailure say
  int changedCalls = 0, readsBelowRelease = 0;
  std::uint64_t released = 0, held = 0;  // held: most bytes asked for past the release
};

// A byte pattern that depends on its offset only: files of any size can be
// generated and checked without being stored. Built from 8-byte words so
// that gigabytes go by quickly.
inline std::uint64_t PatternWord(std::uint64_t index) { return (index + 1) * 0x9E3779B97F4A7C15ull; }
inline char PatternByte(std::uint64_t offset) {
  return static_cast<char>(PatternWord(offset / 8) >> (8 * (offset % 8)));
}
inline void FillPattern(std::uint64_t offset, char* out, std::size_t n) {
  std::size_t i = 0;
  for (; i < n && (offset + i) % 8 != 0; ++i) out[i] = PatternByte(offset + i);
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w = PatternWord((offset + i) / 8);
    for (int k = 0; k < 8; ++k) out[i + k] = static_cast<char>(w >> (8 * k));
  }
  for (; i < n; ++i) out[i] = PatternByte(offset + i);
}

class PatternSource : public tftp::FileSource {
 public:
  explicit PatternSource(std::uint64_t size) : size_(size) {}
  std::uint64_t Size() const override { return size_; }
  long long Read(std::uint64_t offset, char* out, std::size_t length) override {
    if (offset >= size_) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
    FillPattern(offset, out, n);
    return static_cast<long long>(n);
  }
  // With lend set, blocks are lent from buffers of the source's own, as a
  // server's shared reads lend them.
  const std::shared_ptr<const void>* Lend(std::uint64_t offset, std::size_t length,
                                          std::string_view& bytes) override {
    if (!lend) return nullptr;
    auto block = std::make_shared<std::string>(length, '\0');
    block->resize(static_cast<std::size_t>(Read(offset, block->data(), length)));
    bytes = *block;
    lent = block;
    return &lent;
  }
  bool lend = false;
  std::shared_ptr<const void> lent;  // the block lent last

 private:
  std::uint64_t size_;
};

// Counts and checks bytes against the pattern; stores nothing.
class PatternSink : public tftp::FileSink {
 public:
  bool Write(std::string_view bytes) override {
    expected.resize(bytes.size());
    FillPattern(size, expected.data(), bytes.size());
    if (std::memcmp(expected.data(), bytes.data(), bytes.size()) != 0) ++mismatches;
    size += bytes.size();
    return true;
  }
  std::uint64_t size = 0;
  std::uint64_t mismatches = 0;  // blocks that differ
  std::string expected;
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
