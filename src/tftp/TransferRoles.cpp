// What both roles of the data phase share: the Outbox, progress and
// failures, strangers, and the peer's datagrams routed to the role.
#include "tftp/TransferRoles.h"

#include <algorithm>

#include "tftp/TftpPacket.h"

namespace tarnwick::tftp {

namespace {

const char* OpcodeName(std::uint16_t opcode) {
  switch (opcode) {
    case kRrq:
      return "RRQ";
    case kWrq:
      return "WRQ";
    case kData:
      return "DATA";
    case kAck:
      return "ACK";
    case kError:
      return "ERROR";
    case kOack:
      return "OACK";
    default:
      return "unknown";
  }
}

constexpr char kUnknownTransferId[] = "Unknown transfer ID";

}  // namespace

Outbox::Datagram& Outbox::NextSlot(const SocketAddress& to) {
  if (sender_ && count_ >= capacity_) sender_(*this);
  if (count_ == slots_.size()) slots_.emplace_back();
  Datagram& slot = slots_[count_++];
  slot.to = to;
  slot.payload = {};
  return slot;
}

std::string& Outbox::Add(const SocketAddress& to) {
  std::string& bytes = NextSlot(to).bytes;
  bytes.clear();
  return bytes;
}

std::string& Outbox::AddSized(const SocketAddress& to, std::size_t size) {
  std::string& bytes = NextSlot(to).bytes;
  if (bytes.size() != size) bytes.resize(size);
  return bytes;
}

void Outbox::SendThrough(Sender sender, std::size_t capacity) {
  sender_ = std::move(sender);
  capacity_ = std::max<std::size_t>(capacity, 1);
}

void RoleCore::Progress(TimePoint now) {
  timeouts = 0;
  lastProgress = now;
  progressed = true;
  if (timedSend) timer.Sample(now - *timedSend);
  timedSend.reset();
  timer.Progress();
}

void RoleCore::Finish(TransferState state) {
  outcome.state = state;
  deadline = TimePoint::max();
}

void RoleCore::Fail(std::string reason) {
  outcome.reason = std::move(reason);
  Finish(TransferState::Failed);
}

// Tells the peer why we stop (when we know who it is) and fails.
void RoleCore::Abandon(std::string_view reason, Outbox& out) {
  if (IsGet()) Get().lingerUntil.reset();
  if (Finished()) return;
  FailWithError(0, reason, std::string(reason), out);
}

void RoleCore::FailWithError(std::uint16_t code, std::string_view text, std::string reason, Outbox& out) {
  if (peer) BuildErrorPacket(out.Add(*peer), code, text);
  Fail(std::move(reason));
}

// The local file, not the network or the device, ended the transfer.
void RoleCore::FailLocally(std::uint16_t code, std::string_view text, std::string reason, Outbox& out) {
  outcome.localFileFailed = true;
  FailWithError(code, text, std::move(reason), out);
}

void RoleCore::FailFromPeer(std::string_view datagram) {
  const PeerError error = ReadError(datagram);
  outcome.peerErrorCode = error.code;
  outcome.peerErrorText = error.text;
  Fail(std::string("the ") + peerName + " answered with ERROR " + std::to_string(error.code) +
       (error.text.empty() ? std::string() : ": " + error.text));
}

// A datagram from anyone but the peer: the sender hears ERROR 5 (unless it
// sent an ERROR itself or something that is no TFTP packet at all).
void RoleCore::AnswerStranger(const SocketAddress& from, std::string_view datagram, Outbox& out) {
  if (datagram.size() < kHeaderSize) return;
  const std::uint16_t opcode = ReadOpcode(datagram);
  if (opcode < kRrq || opcode > kOack || opcode == kError) return;
  BuildErrorPacket(out.Add(from), 5, kUnknownTransferId);
}

void RoleCore::OnPeerDatagram(std::string_view datagram, TimePoint now, Outbox& out) {
  const std::uint16_t opcode = ReadOpcode(datagram);
  if (datagram.size() < kHeaderSize) {
    if (opcode == kOack && datagram.size() >= 2) return;  // a late copy of the OACK
    return FailWithError(4, kIllegalOperation,
                         std::string("malformed datagram from the ") + peerName + " (" +
                             std::to_string(datagram.size()) + " bytes)",
                         out);
  }
  if (opcode == kData && IsGet()) return OnData(datagram, now, out);
  if (opcode == kAck && !IsGet()) return OnAck(HeaderNumber(datagram), now, out);
  if (opcode == kError) return FailFromPeer(datagram);
  if (opcode == kOack) {
    // Our ACK 0 was lost: the server sends its OACK again. On a put a repeated
    // OACK is a repeated ACK 0 and earns nothing.
    if (IsGet() && Get().expected == 1) {
      SendAck(0, now, out);
      Arm(now);
    }
    return;
  }
  FailWithError(4, kIllegalOperation,
                std::string("unexpected ") + OpcodeName(opcode) + " from the " + peerName, out);
}

void RoleCore::DataTimedOut(TimePoint now, Outbox& out) {
  if (IsGet())
    ReceiverTimedOut(now, out);
  else
    SenderTimedOut(out);
}

}  // namespace tarnwick::tftp
