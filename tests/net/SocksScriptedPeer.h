// A scripted proxy for the SOCKS, tunnel and relay tests: it accepts TCP
// connections on loopback and, step by step, reads what the client sends
// (a fixed number of bytes, or up to a terminator) and answers with bytes
// given by the test. Everything it read is kept for byte-exact checks.
// It runs on a thread of its own because the socket under test blocks.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "NetTestPeers.h"
#include "net/SocketApi.h"

namespace tarnwick::test {

struct ScriptStep {
  std::size_t readLength = 0;  // bytes to read first (0: none)
  std::string readUntil;       // or: read until this text has arrived
  std::string reply;           // then send this
  bool closeAfter = false;     // and close the connection
  bool acceptFirst = false;    // accept a new connection before this step
};

class ScriptedProxy {
 public:
  explicit ScriptedProxy(std::vector<ScriptStep> steps) : steps_(std::move(steps)) {
    SocketFunctionTable& api = SocketApi();
    SocketAddress local = LoopbackAddress("127.0.0.1", 0);
    listener_ = api.socket(local.family, 1, 6);
    api.bind(listener_, &local, SocketAddressLength(local));
    api.listen(listener_, 4);
    int length = sizeof(local);
    api.getsockname(listener_, &local, &length);
    port_ = api.ntohs(local.port);
    if (!steps_.empty()) steps_.front().acceptFirst = true;
    worker_ = std::thread([this] { Run(); });
  }
  ~ScriptedProxy() {
    if (worker_.joinable()) worker_.join();
    if (peer_ != kNoSocket) SocketApi().closesocket(peer_);
    SocketApi().closesocket(listener_);
  }
  ScriptedProxy(const ScriptedProxy&) = delete;
  ScriptedProxy& operator=(const ScriptedProxy&) = delete;

  std::string PortText() const { return std::to_string(port_); }
  std::uint16_t Port() const { return port_; }

  // What the client sent in each step (waits for the script to finish).
  std::vector<std::string> Received() {
    if (worker_.joinable()) worker_.join();
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
  }
  int Connections() {
    if (worker_.joinable()) worker_.join();
    return connections_;
  }

 private:
  static constexpr int kStepWaitMs = 3000;

  void Run() {
    for (const ScriptStep& step : steps_) {
      if (step.acceptFirst && !Accept()) return;
      std::string got;
      if (step.readLength > 0 || !step.readUntil.empty()) got = Read(step);
      {
        std::lock_guard<std::mutex> hold(lock_);
        received_.push_back(got);
      }
      if (!step.reply.empty()) {
        SocketApi().send(peer_, step.reply.data(), static_cast<int>(step.reply.size()), 0);
      }
      if (step.closeAfter) {
        // Let the last bytes leave before the close so that they are not
        // lost in a reset.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        SocketApi().closesocket(peer_);
        peer_ = kNoSocket;
      }
    }
  }

  bool Accept() {
    if (peer_ != kNoSocket) SocketApi().closesocket(peer_);
    peer_ = kNoSocket;
    if (!WaitReadableRaw(listener_, kStepWaitMs)) return false;
    SocketAddress from;
    int length = sizeof(from);
    peer_ = SocketApi().accept(listener_, &from, &length);
    if (peer_ != kNoSocket) ++connections_;
    return peer_ != kNoSocket;
  }

  std::string Read(const ScriptStep& step) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStepWaitMs);
    for (;;) {
      if (step.readLength > 0 && got.size() >= step.readLength) break;
      if (!step.readUntil.empty() && got.find(step.readUntil) != std::string::npos) break;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !WaitReadableRaw(peer_, static_cast<int>(left.count()))) break;
      // One byte at a time: never take bytes that belong to the next step.
      char c;
      if (SocketApi().recv(peer_, &c, 1, 0) != 1) break;
      got += c;
    }
    return got;
  }

  std::vector<ScriptStep> steps_;
  SocketHandle listener_ = kNoSocket;
  SocketHandle peer_ = kNoSocket;
  std::uint16_t port_ = 0;
  std::mutex lock_;
  std::vector<std::string> received_;
  int connections_ = 0;
  std::thread worker_;
};

inline std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

}  // namespace tarnwick::test
