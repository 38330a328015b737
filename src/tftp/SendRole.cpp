// The sending role (a put, or a file the server serves): a window of blocks built one at a time into the
// Outbox (which hands them to the socket as it fills), slid on every ACK,
// sent again from the first missing block at once when an ACK falls short
// of the window's end, and from the window's start on a time-out. A stream
// (pipe, FIFO, standard input) is read in order and ends at its first short
// block; a regular file is sent at its starting size and checked for change
// before its last block first goes out.
#include <algorithm>

#include "tftp/TftpPacket.h"
#include "tftp/TransferRoles.h"

namespace tarnwick::tftp {

void RoleCore::BeginSending(TimePoint now, Outbox& out) {
  SendRole& put = Put();
  put.base = put.next = 1;
  if (!SendWindow(out)) return;
  SentFresh(now);
  Arm(now);
}

// False (and the transfer abandoned with ERROR 0) when the source changed
// since the transfer started.
bool RoleCore::AskSourceUnchanged(Outbox& out) {
  std::string changed = Put().source->Changed();
  if (changed.empty()) return true;
  FailWithError(0, changed, changed, out);
  return false;
}

// Sends the blocks from `next` up to the end of the window that starts at
// `base`. False when the transfer failed on the way.
bool RoleCore::SendWindow(Outbox& out) {
  SendRole& put = Put();
  const std::uint64_t windowEnd = put.base + windowSize - 1;
  for (; put.next <= windowEnd && (put.lastBlock == 0 || put.next <= put.lastBlock); ++put.next) {
    const std::uint64_t block = put.next;
    const std::uint64_t offset = (block - 1) * blockSize;
    const std::size_t length =
        put.sizeKnown ? static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, put.size - offset))
                      : blockSize;
    if (put.askBeforeResend && block <= put.sent) {
      put.askBeforeResend = false;
      if (put.sizeKnown && !AskSourceUnchanged(out)) return false;
    }
    if (put.sizeKnown && block == put.lastBlock && !put.changeAsked) {
      // Once the last block is out the device commits the file: a file that
      // changed meanwhile would be stored as a mix of two versions.
      put.changeAsked = true;
      if (!AskSourceUnchanged(out)) return false;
    }
    // Lent bytes go out from the source's buffer: no copy into the datagram.
    std::string_view lent;
    const std::shared_ptr<const void>* owner = length ? put.source->Lend(offset, length, lent) : nullptr;
    const bool lending = owner != nullptr;
    std::string& datagram = out.AddSized(*peer, kHeaderSize + (lending ? 0 : length));
    WriteHeader(datagram, kData, static_cast<std::uint16_t>(block));
    long long got = 0;
    if (lending) {
      out.AttachPayload(lent, *owner);
      got = static_cast<long long>(lent.size());
    } else if (length) {
      got = put.source->Read(offset, &datagram[kHeaderSize], length);
    }
    if (got < 0) {
      out.RemoveLast();
      std::string reason = put.source->ReadFailure();
      if (reason.empty()) reason = "reading the local file failed at byte " + std::to_string(offset);
      FailLocally(0, reason, reason, out);
      return false;
    }
    const auto count = static_cast<std::size_t>(got);
    if (count < length && put.sizeKnown) {
      // The file shrank under us: the file is fine, the moment is not.
      out.RemoveLast();
      std::string reason = put.changeAsked ? std::string() : put.source->Changed();
      put.changeAsked = true;
      if (reason.empty()) reason = "the local file ended early, at byte " + std::to_string(offset + count);
      FailWithError(0, reason, reason, out);
      return false;
    }
    if (count < length) {
      if (!lending) datagram.resize(kHeaderSize + count);  // shrinking keeps the buffer
      if (put.lastBlock == 0) {
        put.lastBlock = block;
        put.endBytes = offset + count;
      }
    }
    put.sent = std::max(put.sent, block);
  }
  return true;
}

void RoleCore::OnAck(std::uint16_t number, TimePoint now, Outbox& out) {
  SendRole& put = Put();
  const std::uint64_t lastAcked = put.base - 1;
  const auto delta = static_cast<std::uint16_t>(number - static_cast<std::uint16_t>(lastAcked));
  // A repeated ACK (delta 0) or one for a block never sent: no resend, ever.
  if (delta == 0 || delta > put.next - 1 - lastAcked) return;
  const std::uint64_t acked = lastAcked + delta;
  put.base = acked + 1;
  outcome.bytes = acked * blockSize;
  if (put.lastBlock != 0) outcome.bytes = std::min(outcome.bytes, put.endBytes);
  Progress(now);
  if (acked == put.lastBlock) return Finish(TransferState::Succeeded);
  put.source->Release(acked * blockSize);
  // An ACK short of the window's end: the blocks after it went missing, so
  // they go again now rather than after a time-out. Once per window: while
  // the blocks sent again are being acknowledged, a short ACK is more
  // likely an answer to an old copy than a new loss, and resending on each
  // one would multiply the traffic; a real second loss is left to the
  // (estimated, short) time-out.
  if (put.next - 1 > acked && acked >= put.repairedUpTo) {
    put.repairedUpTo = put.next - 1;
    outcome.retransmissions += put.next - put.base;
    put.next = put.base;
    put.askBeforeResend = true;
  }
  if (!SendWindow(out)) return;
  SentFresh(now);
  Arm(now);
}

void RoleCore::SenderTimedOut(Outbox& out) {
  SendRole& put = Put();
  put.repairedUpTo = 0;
  outcome.retransmissions += put.next - put.base;
  put.next = put.base;
  put.askBeforeResend = true;
  SendWindow(out);
}

}  // namespace tarnwick::tftp
