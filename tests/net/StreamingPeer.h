// A loopback TCP peer that will not stop talking: it accepts one
// connection, reads the client's request up to a terminator (when one is
// given), sends a head once and then repeats a body until a byte budget is
// spent, the client goes away or the test ends. Whether the budget ran out
// tells a test if the client stopped listening on its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>

#include "NetTestPeers.h"
#include "net/SocketApi.h"

namespace tarnwick::test {

class StreamingTcpPeer {
 public:
  StreamingTcpPeer(std::string requestEnd, std::string head, std::string body, std::size_t budget)
      : requestEnd_(std::move(requestEnd)), head_(std::move(head)), body_(std::move(body)), budget_(budget) {
    worker_ = std::thread([this] { Run(); });
  }
  ~StreamingTcpPeer() {
    stop_ = true;
    worker_.join();
  }
  StreamingTcpPeer(const StreamingTcpPeer&) = delete;
  StreamingTcpPeer& operator=(const StreamingTcpPeer&) = delete;

  std::string PortText() const { return listener_.PortText(); }
  // The whole budget went out: the client read everything it was sent.
  bool SpentBudget() const { return spent_; }
  bool Accepted() const { return accepted_; }

 private:
  static constexpr int kAcceptWaitMs = 5000;

  void Run() {
    if (!listener_.Accept(kAcceptWaitMs)) return;
    peer_ = listener_.Peer();
    accepted_ = true;
    if (!requestEnd_.empty() && !ReadRequest()) return;
    if (!SendAll(head_)) return;
    std::size_t sent = head_.size();
    while (sent < budget_) {
      if (!SendAll(body_)) return;
      sent += body_.size();
    }
    spent_ = true;
    // Stay connected until the test ends, so that the client sees no close.
    while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  bool ReadRequest() {
    std::string got;
    while (!stop_ && got.find(requestEnd_) == std::string::npos) {
      if (!WaitReadableRaw(peer_, 100)) continue;
      char c;
      if (SocketApi().recv(peer_, &c, 1, 0) != 1) return false;
      got += c;
    }
    return !stop_;
  }

  // Waits for room in short steps so that the end of the test is noticed
  // even while the client reads nothing.
  bool SendAll(const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
      if (stop_) return false;
      if (!WaitWritableRaw(peer_, 100)) continue;
      const int n = SocketApi().send(peer_, bytes.data() + at, static_cast<int>(bytes.size() - at), 0);
      if (n <= 0) return false;  // the client closed
      at += static_cast<std::size_t>(n);
    }
    return true;
  }

  std::string requestEnd_, head_, body_;
  std::size_t budget_;
  LoopbackTcpListener listener_{"127.0.0.1"};
  SocketHandle peer_ = kNoSocket;  // owned by the listener
  std::atomic<bool> stop_{false};
  std::atomic<bool> accepted_{false};
  std::atomic<bool> spent_{false};
  std::thread worker_;
};

}  // namespace tarnwick::test
