// The receiving role (a get, or an upload to the server): blocks stored in order and each byte once,
// one ACK per window, a gap answered at once, a repeat of our last ACK's
// block answered again, and a short linger after the final ACK.
#include <algorithm>

#include "tftp/TftpPacket.h"
#include "tftp/TransferRoles.h"

namespace tarnwick::tftp {

void RoleCore::SendAck(std::uint64_t block, TimePoint now, Outbox& out) {
  WriteHeader(out.AddSized(*peer, kHeaderSize), kAck, static_cast<std::uint16_t>(block));
  Get().acknowledged = block;
  Get().acknowledgedAt = now;
}

// The local file could not take the data: ERROR 3 when the disk is full,
// else ERROR 0 with the system's words.
void RoleCore::SinkFailed(Outbox& out) {
  FileSink& sink = *Get().sink;
  std::string reason = sink.WriteFailure();
  if (reason.empty()) reason = "writing the local file failed at byte " + std::to_string(outcome.bytes);
  const bool full = sink.DiskFull();
  FailLocally(full ? 3 : 0, full ? std::string_view(kDiskFull) : std::string_view(reason), reason, out);
}

void RoleCore::OnData(std::string_view datagram, TimePoint now, Outbox& out) {
  ReceiveRole& get = Get();
  const std::uint16_t number = HeaderNumber(datagram);
  const std::string_view payload = datagram.substr(kHeaderSize);
  if (payload.size() > blockSize) {
    return FailWithError(4, kIllegalOperation,
                         "block " + std::to_string(number) + " is " + std::to_string(payload.size()) +
                             " bytes, more than the agreed " + std::to_string(blockSize),
                         out);
  }
  const auto ahead = static_cast<std::uint16_t>(number - static_cast<std::uint16_t>(get.expected));
  if (ahead == 0) {
    if (!payload.empty() && !get.sink->Write(payload)) return SinkFailed(out);
    outcome.bytes += payload.size();
    ++get.expected;
    get.gapAcknowledged = false;
    Progress(now);
    if (payload.size() < blockSize) {
      if (!get.sink->FlushToDisk()) return SinkFailed(out);
      SendAck(number, now, out);
      const auto& announced = outcome.agreed.transferSize;
      if (announced && *announced != outcome.bytes) {
        return Fail("received " + std::to_string(outcome.bytes) + " bytes, the server announced " +
                    std::to_string(*announced));
      }
      Finish(TransferState::Succeeded);
      // The server sends its last block again if our ACK is lost, after its
      // own time-out: linger that long (the agreed one, else our first wait).
      const Clock::duration linger =
          outcome.agreed.timeoutSeconds
              ? Clock::duration(std::chrono::seconds(*outcome.agreed.timeoutSeconds))
              : lingerWait;
      get.lingerUntil = now + linger;
      const Clock::duration roundTrips =
          std::max<Clock::duration>(RetransmitTimer::kFloor, 4 * timer.SmoothedRoundTrip());
      get.lingerShortUntil = now + std::min(linger, roundTrips);
      return;
    }
    // One ACK per window, counted from our last ACK: the server's windows
    // start after the block we acknowledged, so ours stay in step with them.
    const std::uint64_t window =
        get.shortWindow ? std::min<std::uint64_t>(get.shortWindow, windowSize) : windowSize;
    if (get.expected - 1 - get.acknowledged >= window) {
      SendAck(get.expected - 1, now, out);
      SentFresh(now);
    }
    Arm(now);
    return;
  }
  if (ahead < 0x8000) {
    // A gap: one ACK of the last block in order makes the server go back;
    // later blocks of this window are dropped without another ACK.
    if (!get.gapAcknowledged) {
      SendAck(get.expected - 1, now, out);
      get.gapAcknowledged = true;
      SentFresh(now);
      Arm(now);
    }
    return;
  }
  // A block we have. Only a repeat of the block our last ACK named says
  // that ACK was lost; any other old block is the tail of a window sent
  // again, and answering it would set the server back to a block it has
  // long passed and make it send every later window twice. Even that
  // repeat is left alone when it comes within one round trip of our ACK:
  // it answers an earlier ACK that crossed ours (or the network doubled
  // it), and acknowledging it again would start the same doubling with a
  // server that answers every ACK.
  if (get.acknowledged == get.expected - 1 && number == static_cast<std::uint16_t>(get.acknowledged) &&
      now - get.acknowledgedAt >= timer.SmoothedRoundTrip()) {
    SendAck(get.acknowledged, now, out);
    timedSend.reset();  // the answer could be to either copy
    Arm(now);
  }
}

std::optional<Linger> RoleCore::Lingering() const {
  const ReceiveRole* get = std::get_if<ReceiveRole>(&side);
  if (get == nullptr || !get->lingerUntil) return std::nullopt;
  return Linger{*peer, static_cast<std::uint16_t>(get->expected - 1), *get->lingerUntil,
                get->lingerShortUntil};
}

bool Linger::Repeats(const SocketAddress& from, std::string_view datagram) const {
  return SameEndpoint(from, peer) && datagram.size() >= kHeaderSize && ReadOpcode(datagram) == kData &&
         HeaderNumber(datagram) == lastBlock;
}

bool Linger::Answer(const SocketAddress& from, std::string_view datagram, Outbox& out) const {
  if (!Repeats(from, datagram)) return false;
  WriteHeader(out.AddSized(peer, kHeaderSize), kAck, lastBlock);
  return true;
}

// Blocks came since our last ACK and then none for one estimated time-out:
// the server's window ended short of the agreed size (some servers send
// fewer blocks than they agreed to), or its tail was lost. Either way the
// server waits for us, so this is no time-out: the ACK goes out as a fresh
// one, its answer is progress and a round-trip sample, and the wait does not
// double (doubling it on every window made a 200 KB get take minutes).
// False when no block came since the last ACK (a real time-out).
bool RoleCore::AcknowledgeShortWindow(TimePoint now, Outbox& out) {
  ReceiveRole& get = Get();
  const std::uint64_t count = get.expected - 1 - get.acknowledged;
  if (count == 0) return false;
  // The same short count twice in a row is the server's real window: from
  // then on it is acknowledged as it completes, without the wait.
  if (count == get.lastShortWindow) get.shortWindow = count;
  get.lastShortWindow = count;
  SendAck(get.expected - 1, now, out);
  get.gapAcknowledged = false;
  SentFresh(now);
  Arm(now);
  return true;
}

void RoleCore::ReceiverTimedOut(TimePoint now, Outbox& out) {
  // The server's window (or our ACK) went missing: acknowledge what we have.
  SendAck(Get().expected - 1, now, out);
  Get().gapAcknowledged = false;
  ++outcome.retransmissions;
}

}  // namespace tarnwick::tftp
