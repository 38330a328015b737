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
  bool done = false;
  std::uint64_t size = 0;
  std::uint64_t acked = 0;     // get: last block acknowledged
  std::uint64_t expected = 1;  // put: next block wanted
  std::uint32_t sinceAck = 0;
  std::uint64_t dataSent = 0;
  std::string block;
  // Get: blocks whose first copy is lost on the way, and DATA sent per block.
  std::set<std::uint64_t> loseFirstCopy;
  std::map<std::uint64_t, int> copiesOf;

  std::uint64_t LastBlock() const { return size / blockSize + 1; }

  void SendWindow(std::vector<std::string>& replies) {
    for (std::uint64_t k = acked + 1; k <= std::min(acked + windowSize, LastBlock()); ++k) {
      const std::uint64_t offset = (k - 1) * blockSize;
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, size - offset));
      block.assign(n, '\0');
      if (n) file->Read(offset, block.data(), n);
      ++dataSent;
      if (copiesOf[k]++ == 0 && loseFirstCopy.count(k)) continue;
      replies.push_back(DataPacket(static_cast<std::uint16_t>(k), block));
    }
  }

  // Its own time-out, as an RFC 7440 sender has it: the window again from
  // the first block not acknowledged.
  std::vector<std::string> TimedOut() {
    std::vector<std::string> replies;
    if (file != nullptr && !done && size > 0) SendWindow(replies);
    return replies;
  }

  std::vector<std::string> Handle(const std::string& packet) {
    std::vector<std::string> replies;
    const std::uint16_t op = Op(packet);
    if (op == 1 || op == 2) {
      auto options = RequestOptions(packet);
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

// Plays the transfer against the server on the harness's fake clock: every
// datagram takes oneWay to arrive, the server takes think(n) before its
// n-th answer, and when nothing reaches it for serverTimeout it acts on its
// own time-out. False when it does not end within maxEvents.
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
  auto toServer = [&](const std::vector<Outbox::Datagram>& sent) {
    for (const auto& d : sent) inFlight.emplace(h.now + link.oneWay, std::make_pair(true, d.bytes));
  };
  auto toClient = [&](const std::vector<std::string>& replies, Clock::duration after) {
    for (const std::string& r : replies)
      inFlight.emplace(h.now + after + link.oneWay, std::make_pair(false, r));
  };
  toServer(h.Start());
  for (std::size_t step = 0; step < maxEvents; ++step) {
    if (h.transfer.Finished() && server.done) return true;
    const TimePoint next = inFlight.empty() ? TimePoint::max() : inFlight.begin()->first;
    const TimePoint client = h.transfer.Finished() ? TimePoint::max() : h.transfer.Deadline();
    const TimePoint earliest = std::min({next, client, serverDeadline});
    if (earliest == TimePoint::max()) return h.transfer.Finished();
    h.now = earliest;
    if (earliest == client) {
      h.transfer.OnTimer(h.now, h.out);
      toServer(h.Take());
    } else if (earliest == serverDeadline) {
      serverDeadline = h.now + link.serverTimeout;
      toClient(server.TimedOut(), Clock::duration());
    } else {
      auto [toTheServer, bytes] = inFlight.begin()->second;
      inFlight.erase(inFlight.begin());
      if (toTheServer) {
        std::vector<std::string> replies = server.Handle(bytes);
        if (!replies.empty()) toClient(replies, link.think(answers++));
        if (link.serverTimeout != Clock::duration::max() && !server.done)
          serverDeadline = h.now + link.serverTimeout;
        if (server.done) serverDeadline = TimePoint::max();
      } else {
        toServer(h.Feed(server.tid, bytes));
      }
    }
  }
  return false;
}

}  // namespace tarnwick::testing_support
