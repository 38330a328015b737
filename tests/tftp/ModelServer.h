// An in-memory TFTP server for the state-machine tests: answers a request
// with or without options, sends or takes windows of blocks, and counts
// block positions with 64 bits so wrapped block numbers are checked too.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ClientTransferHarness.h"

namespace tarnwick::testing_support {

struct ModelServer {
  SocketAddress tid = V4(1, 40000);
  bool honourOptions = true;
  tftp::FileSource* file = nullptr;    // what a get serves
  tftp::FileSink* received = nullptr;  // where a put's bytes go
  std::uint32_t blockSize = 512;
  std::uint32_t windowSize = 1;
  std::uint32_t sendsPerWindow = 0;  // get: fewer blocks a window than agreed (0: as agreed)
  bool done = false;
  std::uint64_t size = 0;
  std::uint64_t acked = 0;     // get: last block acknowledged
  std::uint64_t expected = 1;  // put: next block wanted
  std::uint32_t sinceAck = 0;
  std::uint64_t dataSent = 0;
  std::string block;
  std::set<std::uint64_t> loseFirstCopy;  // get: blocks whose first copy is lost
  bool tsizeAsked = false;

  std::uint64_t LastBlock() const { return size / blockSize + 1; }

  void SendWindow(std::vector<std::string>& replies) {
    const std::uint32_t window = sendsPerWindow ? std::min(sendsPerWindow, windowSize) : windowSize;
    for (std::uint64_t k = acked + 1; k <= std::min(acked + window, LastBlock()); ++k) {
      const std::uint64_t offset = (k - 1) * blockSize;
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, size - offset));
      block.assign(n, '\0');
      if (n) file->Read(offset, block.data(), n);
      ++dataSent;
      if (loseFirstCopy.erase(k)) continue;
      replies.push_back(DataPacket(static_cast<std::uint16_t>(k), block));
    }
  }

  std::vector<std::string> Handle(const std::string& packet) {
    std::vector<std::string> replies;
    const std::uint16_t op = Op(packet);
    if (op == 1 || op == 2) {
      auto options = RequestOptions(packet);
      tsizeAsked = options.count("tsize") > 0;
      std::vector<std::pair<std::string, std::string>> answer;
      if (honourOptions) {
        for (const auto& [name, value] : options) {
          if (name == "blksize") blockSize = static_cast<std::uint32_t>(std::stoul(value));
          if (name == "windowsize") windowSize = static_cast<std::uint32_t>(std::stoul(value));
          answer.emplace_back(name, name == "tsize" && op == 1 ? std::to_string(file->Size()) : value);
        }
      }
      if (op == 1) size = file->Size();
      if (!answer.empty()) {
        replies.push_back(OackPacket(answer));
      } else if (op == 1) {
        SendWindow(replies);
      } else {
        replies.push_back(AckPacket(0));
      }
      return replies;
    }
    if (op == 4) {  // get: the client acknowledges
      const std::uint64_t pos =
          acked + static_cast<std::uint16_t>(Num(packet) - static_cast<std::uint16_t>(acked));
      if (pos > acked + windowSize) return replies;
      acked = pos;
      if (acked == LastBlock()) {
        done = true;
        return replies;
      }
      SendWindow(replies);
      return replies;
    }
    if (op == 3) {  // put: the client sends
      const std::string payload = packet.substr(4);
      if (Num(packet) != static_cast<std::uint16_t>(expected)) {
        replies.push_back(AckPacket(static_cast<std::uint16_t>(expected - 1)));
        sinceAck = 0;
        return replies;
      }
      received->Write(payload);
      ++expected;
      if (payload.size() < blockSize) {
        done = true;
        replies.push_back(AckPacket(Num(packet)));
      } else if (++sinceAck == windowSize) {
        sinceAck = 0;
        replies.push_back(AckPacket(Num(packet)));
      }
    }
    return replies;
  }
};

// Plays the transfer against the server until it ends; false when it does
// not end within maxSteps exchanges.
inline bool Play(Harness& h, ModelServer& server, std::size_t maxSteps = 100000000) {
  std::vector<Outbox::Datagram> pending = h.Start();
  for (std::size_t step = 0; step < maxSteps; ++step) {
    if (pending.empty()) return h.transfer.Finished();
    std::vector<Outbox::Datagram> next;
    for (const auto& d : pending) {
      for (const std::string& reply : server.Handle(d.bytes)) {
        h.transfer.OnDatagram(server.tid, reply, h.now, h.out);
        for (std::size_t i = 0; i < h.out.Count(); ++i) next.push_back(h.out[i]);
        h.out.Clear();
      }
    }
    pending.swap(next);
  }
  return false;
}

// Plays on the fake clock: datagrams take oneWay, the server's n-th answer
// think(n), its own time-out fires after serverTimeout of silence.
struct TimedLink {
  Clock::duration oneWay = std::chrono::milliseconds(1);
  std::function<Clock::duration(std::uint64_t)> think = [](std::uint64_t) { return Clock::duration(); };
  Clock::duration serverTimeout = Clock::duration::max();
};

inline bool PlayTimed(Harness& h, ModelServer& server, const TimedLink& link,
                      std::size_t maxEvents = 1000000) {
  std::multimap<TimePoint, std::pair<bool, std::string>> inFlight;  // true: to the server
  std::uint64_t answers = 0;
  TimePoint serverDeadline = TimePoint::max();
  auto send = [&](bool toServer, const std::string& bytes, Clock::duration after) {
    inFlight.emplace(h.now + after + link.oneWay, std::make_pair(toServer, bytes));
  };
  for (const auto& d : h.Start()) send(true, d.bytes, {});
  for (std::size_t step = 0; step < maxEvents && !(h.transfer.Finished() && server.done); ++step) {
    const TimePoint next = inFlight.empty() ? TimePoint::max() : inFlight.begin()->first;
    const TimePoint client = h.transfer.Finished() ? TimePoint::max() : h.transfer.Deadline();
    h.now = std::min({next, client, serverDeadline});
    if (h.now == TimePoint::max()) return h.transfer.Finished();
    if (h.now == client) {
      for (const auto& d : h.Expire()) send(true, d.bytes, {});
    } else if (h.now == serverDeadline) {
      serverDeadline = h.now + link.serverTimeout;
      std::vector<std::string> window;  // an RFC 7440 sender's time-out: the window again
      server.SendWindow(window);
      for (const std::string& r : window) send(false, r, {});
    } else {
      auto [toServer, bytes] = inFlight.begin()->second;
      inFlight.erase(inFlight.begin());
      if (!toServer) {
        for (const auto& d : h.Feed(server.tid, bytes)) send(true, d.bytes, {});
        continue;
      }
      const std::vector<std::string> replies = server.Handle(bytes);
      const Clock::duration think = replies.empty() ? Clock::duration() : link.think(answers++);
      for (const std::string& r : replies) send(false, r, think);
      const bool timed = link.serverTimeout != Clock::duration::max() && !server.done;
      serverDeadline = timed ? h.now + link.serverTimeout : TimePoint::max();
    }
  }
  return h.transfer.Finished() && server.done;
}

}  // namespace tarnwick::testing_support
