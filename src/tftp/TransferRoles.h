// The data phase of a transfer, the same whichever side asked for it: the
// receiving role (blocks stored in order, one ACK per window) and the
// sending role (a window of blocks from a FileSource, slid on every ACK),
// with what both share (the peer's transfer ID, the RFC 6298 timer, the
// outcome). ClientTransfer adds the request before it; ServerTransfer the
// answer to one. Block positions are counted with 64 bits from 1 (the
// wire's 16-bit numbers are their low halves), so block numbers wrap freely
// and files of any size keep exact offsets. Not a public header.
#pragma once

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "tftp/ClientTransfer.h"
#include "tftp/RetransmitTimer.h"
#include "tftp/TftpOptions.h"

namespace tarnwick::tftp {

// The receiving role: a get, or a server taking an upload.
struct ReceiveRole {
  FileSink* sink;
  std::uint64_t expected = 1;      // the next block wanted
  std::uint64_t acknowledged = 0;  // the block our last ACK named
  TimePoint acknowledgedAt;        // when that ACK went out
  bool gapAcknowledged = false;    // a gap in this window was answered already
  // A server that sends fewer blocks a window than it agreed to: the count
  // of the last window cut short, and once two in a row had the same count,
  // that count (the window we then acknowledge; 0 while none is known).
  std::uint64_t lastShortWindow = 0;
  std::uint64_t shortWindow = 0;
  // After the final ACK: a repeated last block is answered until then, in
  // case our ACK was lost (the peer would otherwise report a failure).
  std::optional<TimePoint> lingerUntil;
  TimePoint lingerShortUntil;
};

// The sending role: a put, or a server serving a file.
struct SendRole {
  FileSource* source;
  bool sizeKnown = true;
  std::uint64_t size = 0;       // the size to send, when known
  std::uint64_t lastBlock = 0;  // 0 while a stream's end has not been read
  std::uint64_t endBytes = 0;   // bytes in the whole file, once lastBlock is known
  std::uint64_t base = 1;       // first block not yet acknowledged
  std::uint64_t next = 1;       // next block to send
  std::uint64_t sent = 0;       // highest block sent at least once
  bool changeAsked = false;     // Changed() was called
  // Blocks go again after a loss: the file is asked before they are read
  // again, so a resent block carries the bytes first sent or none at all.
  bool askBeforeResend = false;
  // After an ACK short of the window's end sent blocks again at once: the
  // highest block sent by then. ACKs below it are answers to that repair
  // (or stale ones the copies caused) and only slide the window.
  std::uint64_t repairedUpTo = 0;
};

// What both roles share, and their steps. `peer` is the other side's
// transfer ID once known (always, for a server).
struct RoleCore {
  RoleCore(std::variant<ReceiveRole, SendRole> role, Clock::duration firstWait, Clock::duration maxWait,
           const char* peerWord)
      : side(std::move(role)), timer(firstWait, maxWait), lingerWait(firstWait), peerName(peerWord) {}

  std::optional<SocketAddress> peer;
  std::variant<ReceiveRole, SendRole> side;
  TransferOutcome outcome;  // outcome.state is the one "finished" flag
  std::uint32_t blockSize = 512;
  std::uint32_t windowSize = 1;

  RetransmitTimer timer;
  TimePoint deadline = TimePoint::max();
  int timeouts = 0;  // in a row, without progress
  TimePoint lastProgress;
  bool progressed = false;  // the peer has moved the transfer on at least once
  // When the datagram now awaiting an answer was sent, while it has been
  // sent only once (Karn's rule: an answer to a repeated one is no sample).
  std::optional<TimePoint> timedSend;
  // How long a receiver answers a repeat of the last block after its final
  // ACK when no timeout was agreed.
  Clock::duration lingerWait;
  const char* peerName;  // "server" or "client", for reasons

  bool IsGet() const { return std::holds_alternative<ReceiveRole>(side); }
  ReceiveRole& Get() { return std::get<ReceiveRole>(side); }
  SendRole& Put() { return std::get<SendRole>(side); }
  bool Finished() const { return outcome.state != TransferState::Running; }

  void Arm(TimePoint now) { deadline = now + timer.Wait(); }
  // A datagram went out in answer to the peer (not because of a time-out):
  // its answer may be timed.
  void SentFresh(TimePoint now) { timedSend = now; }
  // The peer moved the transfer on.
  void Progress(TimePoint now);

  void Finish(TransferState state);
  void Fail(std::string reason);
  void FailWithError(std::uint16_t code, std::string_view text, std::string reason, Outbox& out);
  // Ended from our side (Ctrl+C, shutdown): ERROR 0 with the reason, and
  // no linger for a get that had already finished.
  void Abandon(std::string_view reason, Outbox& out);
  void FailFromPeer(std::string_view datagram);
  void FailLocally(std::uint16_t code, std::string_view text, std::string reason, Outbox& out);
  void AnswerStranger(const SocketAddress& from, std::string_view datagram, Outbox& out);
  // A datagram from the peer once the data phase runs.
  void OnPeerDatagram(std::string_view datagram, TimePoint now, Outbox& out);
  // A time-out in the data phase: the role sends again.
  void DataTimedOut(TimePoint now, Outbox& out);

  // Receiving role (ReceiveRole.cpp).
  void SendAck(std::uint64_t block, TimePoint now, Outbox& out);
  void OnData(std::string_view datagram, TimePoint now, Outbox& out);
  void SinkFailed(Outbox& out);
  void ReceiverTimedOut(TimePoint now, Outbox& out);
  bool AcknowledgeShortWindow(TimePoint now, Outbox& out);
  std::optional<Linger> Lingering() const;

  // Sending role (SendRole.cpp).
  void BeginSending(TimePoint now, Outbox& out);
  bool SendWindow(Outbox& out);
  bool AskSourceUnchanged(Outbox& out);
  void OnAck(std::uint16_t number, TimePoint now, Outbox& out);
  void SenderTimedOut(Outbox& out);
};

inline bool SameHost(const SocketAddress& a, const SocketAddress& b) {
  if (a.family != b.family) return false;
  if (a.family == kFamilyIPv4) return std::memcmp(a.IPv4Bytes(), b.IPv4Bytes(), 4) == 0;
  if (a.family == kFamilyIPv6) return std::memcmp(a.IPv6Bytes(), b.IPv6Bytes(), 16) == 0;
  return false;
}

inline bool SameEndpoint(const SocketAddress& a, const SocketAddress& b) {
  // Family and port are the first 4 bytes of both layouts.
  if (std::memcmp(&a, &b, 4) != 0) return false;
  if (a.family == kFamilyIPv4) return std::memcmp(a.IPv4Bytes(), b.IPv4Bytes(), 4) == 0;
  return a.family == kFamilyIPv6 && std::memcmp(a.IPv6Bytes(), b.IPv6Bytes(), 16) == 0;
}

// The 16-bit number at offset 2, for datagrams already known to hold 4 bytes.
inline std::uint16_t HeaderNumber(std::string_view datagram) {
  return static_cast<std::uint16_t>((static_cast<unsigned char>(datagram[2]) << 8) |
                                    static_cast<unsigned char>(datagram[3]));
}

inline void WriteHeader(std::string& out, std::uint16_t opcode, std::uint16_t number) {
  out[0] = static_cast<char>(opcode >> 8);
  out[1] = static_cast<char>(opcode & 0xFF);
  out[2] = static_cast<char>(number >> 8);
  out[3] = static_cast<char>(number & 0xFF);
}

inline constexpr char kDiskFull[] = "Disk full or allocation exceeded";
inline constexpr char kIllegalOperation[] = "Illegal TFTP operation";

}  // namespace tarnwick::tftp
