// The command line's own TFTP client engine: one transfer (a get or a put of
// one file) as a state machine. It never blocks and never touches a socket:
// the caller feeds it "datagram arrived" and "timer fired" and sends what it
// puts in the Outbox, then waits until Deadline(). So tests drive it packet by
// packet, and one thread can drive hundreds of transfers (TransferDriver).
//
// Protocol: RFC 1350 with the RFC 1123 4.2.3.1 rules (retransmit on
// time-out with exponential back-off from a measured round trip, retry
// limit, no resend on a duplicate ACK, a repeat of the last acknowledged
// DATA is acknowledged again and nothing is ever stored twice), transfer-ID
// checks (ERROR 5 to a stranger, transfer goes on), RFC 2347 negotiation
// with its fallbacks, RFC 2348 blksize, RFC 2349 tsize and timeout, RFC 7440
// windowsize in both directions, 16-bit block numbers wrapping 65535 -> 0,
// files of any size (64-bit offsets). File bytes stream through FileSink /
// FileSource: memory stays flat whatever the file size.
//
// The window's engine (TTFTPSend) is a different, deliberately plain thing;
// nothing here is shared with it but the packet codec.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/SocketAddress.h"

namespace tarnwick::tftp {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

enum class TransferKind { Get, Put };

// What a stream put keeps for sending again, at most (TransferRequest).
inline constexpr std::uint64_t kStreamHold = std::uint64_t{16} << 20;

// What the caller asks for. An option left unset is not requested; with none
// set the request is a plain RFC 1350 one.
struct TransferRequest {
  TransferKind kind = TransferKind::Get;
  std::string remoteName;                       // bytes on the wire (already CP932 where wanted)
  std::optional<std::uint32_t> blockSize;       // blksize, 8..65464
  std::optional<std::uint32_t> windowSize;      // windowsize, 1..65535
  std::optional<std::uint32_t> timeoutSeconds;  // timeout, 1..255 (also our wait)
  bool transferSize = false;                    // tsize: 0 on a get, the real size on a put
  // First wait for an answer (to the request, and until a round trip has
  // been measured; then the measured wait, see RetransmitTimer); doubled
  // after each time-out up to maxWait. Also how long a finished get lingers.
  std::chrono::milliseconds wait{1000};
  std::chrono::milliseconds maxWait{8000};
  // Time-outs in a row (no progress) before the transfer fails, and never
  // sooner than these waits doubled one after another would allow.
  int retries = 5;
  // A stream put keeps every block not yet acknowledged (it cannot read
  // them twice): its window asked for is reduced so that they fit in this.
  std::uint64_t streamHold = kStreamHold;
};

// The window a put from a stream asks for under request.streamHold (at
// least 1); request.windowSize (or 1) when that fits.
std::uint32_t StreamWindow(const TransferRequest& request);

// Where a get's bytes go. Write is called with the blocks in order, each
// byte once. False means the local write failed: the transfer stops, sends
// ERROR 3 "Disk full or allocation exceeded" (ERROR 0 when DiskFull() says
// it was something else) and fails with WriteFailure() as the reason.
class FileSink {
 public:
  virtual ~FileSink() = default;
  virtual bool Write(std::string_view bytes) = 0;
  // Why the last Write failed, in the system's words and with the byte
  // offset where the data stopped reaching the file ("No space left on
  // device, at byte 1048576"). Empty: the engine words it itself.
  virtual std::string WriteFailure() const { return {}; }
  // Whether that failure was a full disk or quota (ERROR 3 to the server).
  virtual bool DiskFull() const { return true; }
  // Called once the last block is stored, before the final ACK: our last
  // ACK tells the server "I have it", so by then every byte must be on disk
  // (a full disk found after it could no longer reach the server). False:
  // as a failed Write.
  virtual bool FlushToDisk() { return true; }
};

// Where a put's bytes come from: positional reads, so a window can be sent
// again from any block. Read returns the bytes read (short only at the end of
// the file); a negative result is a local read error.
class FileSource {
 public:
  virtual ~FileSource() = default;
  // The size to send, fixed when the transfer starts (regular files).
  virtual std::uint64_t Size() const = 0;
  // False for a stream (pipe, FIFO, standard input): Size() means nothing,
  // no tsize is offered and the file ends at the first short read.
  virtual bool SizeKnown() const { return true; }
  virtual long long Read(std::uint64_t offset, char* out, std::size_t length) = 0;
  // Lends up to length bytes at offset without copying them: `bytes` points
  // into a read buffer of the source's, so the datagram is sent with header
  // and payload as two pieces. Short only at the end of the file. Returns
  // the buffer's owner, of which the datagram keeps a share until it is
  // sent (the source may move on to another buffer meanwhile); null when
  // the source cannot lend them (it has no such buffer, or reading failed):
  // the engine then Reads into its own.
  virtual const std::shared_ptr<const void>* Lend(std::uint64_t offset, std::size_t length,
                                                  std::string_view& bytes) {
    (void)offset, (void)length, (void)bytes;
    return nullptr;
  }
  // Every byte before offset has been acknowledged: a stream may forget it.
  // A stream is only ever asked to Read at or after the last such offset.
  virtual void Release(std::uint64_t offset) { (void)offset; }
  // Asked before the last block first goes out: the reason when the file
  // changed since the transfer started (size or modification time), else
  // empty. A changed file is abandoned with ERROR 0, so the device never
  // commits a mix of two versions.
  virtual std::string Changed() { return {}; }
  // Why the last Read failed, in the system's words. Empty: the engine words
  // it itself.
  virtual std::string ReadFailure() const { return {}; }
};

// Datagrams the engine wants sent. The buffers are reused from call to call,
// so the per-block path does not allocate once a transfer runs. Without a
// sender the box holds everything a step adds (tests read it afterwards);
// with one, a full box is handed to the sender before the next datagram is
// added, so a window of any size is built and sent through a fixed number
// of buffers.
class Outbox {
 public:
  // The datagram is bytes followed by payload: a payload lent by the file
  // source goes out from the source's own buffer, which keep holds. A slot
  // keeps its share until it is given another buffer's, so a transfer that
  // sends block after block from one buffer moves no reference count.
  struct Datagram {
    SocketAddress to;
    std::string bytes;
    std::string_view payload;
    std::shared_ptr<const void> keep;
    std::size_t Size() const { return bytes.size() + payload.size(); }
    // The whole datagram as one string, for readers that want it so (tests).
    std::string Whole() const { return bytes + std::string(payload); }
  };
  // Sends every datagram held and clears the box.
  using Sender = std::function<void(Outbox&)>;

  // A cleared buffer for one more datagram to `to`.
  std::string& Add(const SocketAddress& to);
  // A buffer of exactly size bytes for one more datagram to `to`; its bytes
  // are whatever the slot held before (the caller writes them all). Saves
  // clearing and refilling a block buffer on every block.
  std::string& AddSized(const SocketAddress& to, std::size_t size);
  // Sends `bytes` after the datagram added last, from where they lie.
  void AttachPayload(std::string_view bytes, const std::shared_ptr<const void>& keep) {
    Datagram& slot = slots_[count_ - 1];
    slot.payload = bytes;
    if (slot.keep != keep) slot.keep = keep;
  }
  std::size_t Count() const { return count_; }
  const Datagram& operator[](std::size_t i) const { return slots_[i]; }
  void Clear() { count_ = 0; }
  // Takes back the datagram added last (one that could not be completed).
  void RemoveLast() {
    if (count_ > 0) --count_;
  }
  // Hands every `capacity` datagrams to sender as they are added.
  void SendThrough(Sender sender, std::size_t capacity);

 private:
  Datagram& NextSlot(const SocketAddress& to);

  std::vector<Datagram> slots_;
  std::size_t count_ = 0;
  Sender sender_;
  std::size_t capacity_ = 0;
};

// The options the server agreed to (what the transfer really used).
struct AgreedOptions {
  std::uint32_t blockSize = 512;
  std::uint32_t windowSize = 1;
  std::optional<std::uint32_t> timeoutSeconds;
  std::optional<std::uint64_t> transferSize;  // the size the server announced (get) / accepted (put)
  bool negotiated = false;                    // an OACK came back
};

enum class TransferState { Running, Succeeded, Failed };

// After the final ACK of a get the server sends its last block again if
// that ACK was lost, after its own time-out: until `until` such a repeat is
// answered with the ACK once more (RFC 1350's dally). A plain value, so
// whoever owns the socket can keep answering after the transfer object and
// its result are gone.
struct Linger {
  SocketAddress peer;
  std::uint16_t lastBlock = 0;
  TimePoint until;
  // A few measured round trips after the end: how long a caller that cannot
  // hand the socket on (TransferDriver::HandOffLingers) stays at most, so
  // that the dally costs it nothing it could measure.
  TimePoint shortUntil;
  // Whether datagram from `from` repeats the last block.
  bool Repeats(const SocketAddress& from, std::string_view datagram) const;
  // True (and the ACK in out) when it does.
  bool Answer(const SocketAddress& from, std::string_view datagram, Outbox& out) const;
};

struct TransferOutcome {
  TransferState state = TransferState::Running;
  // Why it failed, cause first ("no answer from 192.0.2.1:69 after 5
  // retries", "block 7 is 1500 bytes, more than the agreed 1428", ...).
  std::string reason;
  // The device's ERROR packet when one ended the transfer; code -1 when none.
  int peerErrorCode = -1;
  std::string peerErrorText;  // as sent (CP932 bytes), trimmed
  std::uint64_t bytes = 0;    // file bytes stored (get) / acknowledged (put)
  std::uint64_t retransmissions = 0;
  // A local read or write failure, not the network or the device, ended
  // the transfer (the command line's exit status 2). A source that changed
  // while it was sent is not one: the file was fine, the moment was not.
  bool localFileFailed = false;
  AgreedOptions agreed;
};

class ClientTransfer {
 public:
  // server: the well-known address and port the request goes to. Exactly one
  // of sink (get) and source (put) is used; the engine does not own it.
  ClientTransfer(TransferRequest request, const SocketAddress& server, FileSink* sink, FileSource* source);
  ~ClientTransfer();
  ClientTransfer(const ClientTransfer&) = delete;
  ClientTransfer& operator=(const ClientTransfer&) = delete;

  // Puts the request into out and arms the first deadline.
  void Start(TimePoint now, Outbox& out);
  // One datagram from `from` (its bytes exactly as received).
  void OnDatagram(const SocketAddress& from, std::string_view datagram, TimePoint now, Outbox& out);
  // Call when now >= Deadline(): retransmits or fails.
  void OnTimer(TimePoint now, Outbox& out);
  // Ends a running transfer from our side (Ctrl+C, shutdown): sends ERROR 0
  // with the reason to the server when it is known, and fails.
  void Abandon(std::string_view reason, Outbox& out);

  // When OnTimer is due next; TimePoint::max() once finished.
  TimePoint Deadline() const;
  // Succeeded or failed: the outcome is final from then on.
  bool Finished() const;
  // What a succeeded get still owes its server (see Linger); empty for
  // anything else.
  std::optional<Linger> Lingering() const;
  const TransferOutcome& Outcome() const;
  const TransferRequest& Request() const;
  // The well-known address the request goes to.
  const SocketAddress& Server() const;
  // Size of the file when known (tsize on a get, the source on a put), for
  // progress displays.
  std::optional<std::uint64_t> ExpectedSize() const;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace tarnwick::tftp
