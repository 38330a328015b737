// Sending, receiving and waiting of TBlockSocket, the bandwidth limiter and
// the read/write filters. Every operation blocks and leaves its outcome in
// LastSocketError.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "net/BlockSocket.h"
#include "net/NetUtil.h"
#include "net/SocketError.h"

namespace tarnwick {

namespace {

constexpr int kTransferPiece = kLargestStreamChunk;  // most bytes moved by one stream call
constexpr int kLargestDatagram = 65536;              // room for any datagram, never truncated

std::string LengthPrefix(std::uint32_t length) {
  // Machine order of the original platform: little-endian, whatever ours is.
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(i)] = static_cast<char>(length >> (8 * i));
  return out;
}

std::uint32_t ReadLengthPrefix(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Remaining time of a whole-call limit; -1 (no limit) never runs out.
bool ConsumeTimeout(int& timeout, std::uint32_t startTick) {
  if (timeout < 0) return true;
  timeout -= static_cast<int>(std::min<std::uint32_t>(TickSpan(startTick, CurrentTick()), 0x7FFFFFFF));
  return timeout > 0;
}

}  // namespace

// ---- sending ---------------------------------------------------------------

int TBlockSocket::SendData(const void* buffer, int length) {
  ThrottleTransfer(length, SendRateLimit, NextSendTick);
  FilterOutgoing(buffer, length);
  int result = SocketApi().send(Handle, static_cast<const char*>(buffer), length, 0);
  RecordCallResult(result);
  CheckAndReport();
  ReportStatus(StatusSent, std::to_string(result));
  return result;
}

int TBlockSocket::SendOctet(std::uint8_t value) { return SendData(&value, 1); }

int TBlockSocket::SendText(const std::string& bytes) {
  return SendData(bytes.data(), static_cast<int>(bytes.size()));
}

int TBlockSocket::SendCountedText(const std::string& bytes) {
  std::string prefix = LengthPrefix(static_cast<std::uint32_t>(bytes.size()));
  SendData(prefix.data(), 4);
  return SendText(bytes);
}

void TBlockSocket::SendStreamData(std::istream& stream) {
  const auto position = stream.tellg();
  stream.seekg(0, std::ios::end);
  const auto end = stream.tellg();
  stream.seekg(position);
  long long count = (position < 0 || end < position) ? 0 : static_cast<long long>(end - position);
  std::string prefix = LengthPrefix(static_cast<std::uint32_t>(count));
  SendData(prefix.data(), 4);
  std::string piece;
  long long sent = 0;
  while (sent < count) {
    piece.resize(static_cast<std::size_t>(std::min<long long>(count - sent, kTransferPiece)));
    stream.read(&piece[0], static_cast<std::streamsize>(piece.size()));
    std::streamsize got = stream.gcount();
    if (got <= 0) break;
    piece.resize(static_cast<std::size_t>(got));
    SendText(piece);
    sent += got;
  }
}

int TBlockSocket::SendDataTo(const void* buffer, int length) {
  ThrottleTransfer(length, SendRateLimit, NextSendTick);
  int result = SocketApi().sendto(Handle, static_cast<const char*>(buffer), length, 0, &RemoteAddress,
                                  SocketAddressLength(RemoteAddress));
  RecordCallResult(result);
  CheckAndReport();
  ReportStatus(StatusSent, std::to_string(result));
  return result;
}

// ---- receiving -------------------------------------------------------------

int TBlockSocket::ReceiveData(void* buffer, int length) {
  ThrottleTransfer(length, ReceiveRateLimit, NextReceiveTick);
  int result = SocketApi().recv(Handle, static_cast<char*>(buffer), length, 0);
  if (result == 0) {
    LastSocketError = kErrorConnectionReset;  // orderly close by the peer
  } else {
    RecordCallResult(result);
  }
  CheckAndReport();
  ReportStatus(StatusReceived, std::to_string(result));
  if (result > 0) FilterIncoming(buffer, result);
  return result;
}

int TBlockSocket::ReceiveDataFrom(void* buffer, int length) {
  ThrottleTransfer(length, ReceiveRateLimit, NextReceiveTick);
  SocketAddress sender;
  sender.Clear();
  int senderLength = sizeof(SocketAddress);
  int result = SocketApi().recvfrom(Handle, static_cast<char*>(buffer), length, 0, &sender, &senderLength);
  if (result >= 0) RemoteAddress = sender;  // a fresh record: no bytes of an older, longer address remain
  RecordCallResult(result);
  CheckAndReport();
  ReportStatus(StatusReceived, std::to_string(result));
  return result;
}

void TBlockSocket::ReceiveStreamChunk(int n, std::string& chunk) {
  chunk.resize(static_cast<std::size_t>(std::min(n, kTransferPiece)));
  int r = ReceiveData(&chunk[0], static_cast<int>(chunk.size()));
  chunk.resize(r >= 0 ? static_cast<std::size_t>(r) : 0);
}

// A datagram socket cannot trust the count of bytes waiting: it may be 0
// for a queued empty datagram, or the size of the first datagram only. So
// it waits for readability and takes exactly one datagram into a buffer
// big enough for any, which also takes an empty datagram off the queue.
//
// The yield and the look at the bytes already waiting only decide whether
// the wait (and its StatusReadable event) is skipped for a datagram that is
// already there; either way the same datagram is taken with the same
// outcome. So they are made when someone can see the difference (a status
// handler) or when the call must not block (time-out 0, where the yield
// keeps a polling loop from hogging the processor). Otherwise the wait
// alone does the job and gives up the processor itself while nothing has
// arrived: two system calls fewer per datagram.
void TBlockSocket::ReceiveDatagramChunk(int timeout, std::string& chunk) {
  const bool lookFirst = timeout == 0 || static_cast<bool>(StatusHandler);
  if (lookFirst) std::this_thread::yield();
  const bool waiting = lookFirst && PendingByteCount() > 0;
  if (!waiting && !WaitReadable(timeout)) {
    if (LastSocketError == 0) LastSocketError = kErrorTimedOut;
    return;
  }
  if (datagramBuffer_.size() < static_cast<std::size_t>(kLargestDatagram)) {
    datagramBuffer_.resize(kLargestDatagram);
  }
  int r = ReceiveData(datagramBuffer_.data(), kLargestDatagram);
  if (r < 0) return;
  chunk.assign(datagramBuffer_.data(), static_cast<std::size_t>(r));
}

void TBlockSocket::ReceiveChunkInto(int timeout, std::string& chunk) {
  chunk.clear();
  LastSocketError = 0;
  if (!PendingInput.empty()) {
    chunk.swap(PendingInput);  // PendingInput takes the emptied buffer
  } else if (SocketKind() == 2) {
    ReceiveDatagramChunk(timeout, chunk);
  } else {
    std::this_thread::yield();
    int n = PendingByteCount();
    if (n > 0) {
      ReceiveStreamChunk(n, chunk);
    } else if (WaitReadable(timeout)) {
      n = PendingByteCount();
      if (n == 0)
        LastSocketError = kErrorConnectionReset;  // readable with nothing: the peer closed
      else
        ReceiveStreamChunk(n, chunk);
    } else if (LastSocketError == 0) {
      LastSocketError = kErrorTimedOut;
    }
  }
  // A failed receive hands out nothing rather than stale bytes.
  if (LastSocketError != 0) chunk.clear();
  CheckAndReport();
}

std::string TBlockSocket::ReceiveChunk(int timeout) {
  std::string result;
  ReceiveChunkInto(timeout, result);
  return result;
}

int TBlockSocket::ReceiveExactly(void* buffer, int length, int timeout) {
  LastSocketError = 0;
  int filled = 0;
  std::string chunk;
  std::size_t taken = 0;
  auto* out = static_cast<char*>(buffer);
  try {
    for (;;) {
      const std::uint32_t start = CurrentTick();
      chunk = ReceiveChunk(timeout);
      taken = std::min<std::size_t>(chunk.size(), static_cast<std::size_t>(std::max(length - filled, 0)));
      if (taken > 0) std::memcpy(out + filled, chunk.data(), taken);
      filled += static_cast<int>(taken);
      if (LastSocketError != 0 || filled >= length) break;
      if (!TimeoutPerChunk && !ConsumeTimeout(timeout, start)) {
        LastSocketError = kErrorTimedOut;
        break;
      }
    }
  } catch (...) {
    // A raised error leaves the caller without the count: the bytes already
    // taken go back to PendingInput rather than being lost.
    PendingInput.assign(out, static_cast<std::size_t>(filled));
    throw;
  }
  PendingInput = chunk.substr(taken);
  return filled;
}

std::string TBlockSocket::ReceiveText(int length, int timeout) {
  if (length < 1) return std::string();
  // The length may come from the peer (counted text): grow the result as
  // bytes really arrive instead of reserving a peer-chosen size up front.
  std::string result;
  int remaining = timeout;
  while (static_cast<int>(result.size()) < length) {
    const std::uint32_t start = CurrentTick();
    const int piece = std::min(length - static_cast<int>(result.size()), kTransferPiece);
    const std::size_t at = result.size();
    result.resize(at + static_cast<std::size_t>(piece));
    int got = ReceiveExactly(&result[at], piece, remaining);
    result.resize(at + static_cast<std::size_t>(got));
    if (LastSocketError != 0) return std::string();
    if (!TimeoutPerChunk && static_cast<int>(result.size()) < length && !ConsumeTimeout(remaining, start)) {
      LastSocketError = kErrorTimedOut;
      CheckAndReport();
      return std::string();
    }
  }
  return result;
}

std::uint8_t TBlockSocket::ReceiveOctet(int timeout) {
  LastSocketError = 0;
  if (PendingInput.empty()) PendingInput = ReceiveChunk(timeout);
  std::uint8_t value = 0;
  if (LastSocketError == 0 && !PendingInput.empty()) {
    value = static_cast<std::uint8_t>(PendingInput[0]);
    PendingInput.erase(0, 1);
  }
  CheckAndReport();
  return value;
}

std::string TBlockSocket::ReceiveUntil(int timeout, const std::string& terminator) {
  LastSocketError = 0;
  std::string result;
  if (terminator.empty()) return result;
  const bool any = AnyLineEnd && terminator == "\r\n";
  std::string s;
  std::size_t x = 0;
  std::string lineEnd;
  // Bytes of s already searched for the terminator: a terminator cannot
  // start before the last few of them, so a long wait for a line end does
  // not search the same bytes again after every chunk.
  std::size_t searched = 0;
  for (;;) {
    const std::uint32_t start = CurrentTick();
    try {
      s += ReceiveChunk(timeout);
    } catch (...) {
      PendingInput = s;  // keep what was accumulated when an error is raised
      throw;
    }
    if (LastSocketError != 0) break;
    x = 0;
    if (!s.empty()) {
      if (any) {
        // The second half of a CR LF (or LF CR) split across two reads.
        if (SawBareCR && s[0] == '\n') s.erase(0, 1);
        if (SawBareLF && !s.empty() && s[0] == '\r') s.erase(0, 1);
        SawBareCR = false;
        SawBareLF = false;
        x = FindLineEnd(s, lineEnd);
        SawBareCR = lineEnd == "\r";
        SawBareLF = lineEnd == "\n";
      } else {
        const std::size_t overlap = terminator.size() - 1;
        auto at = s.find(terminator, searched > overlap ? searched - overlap : 0);
        searched = s.size();
        x = at == std::string::npos ? 0 : at + 1;
        lineEnd = terminator;
      }
    }
    if (LineLengthLimit != 0 && s.size() > static_cast<std::size_t>(LineLengthLimit)) {
      LastSocketError = kErrorNoBuffers;
      break;
    }
    if (x > 0) break;
    if (!TimeoutPerChunk && !ConsumeTimeout(timeout, start)) {
      LastSocketError = kErrorTimedOut;
      break;
    }
  }
  if (x > 0 && LastSocketError == 0) {
    result = s.substr(0, x - 1);
    s.erase(0, x - 1 + lineEnd.size());
  }
  PendingInput = s;
  CheckAndReport();
  return result;
}

std::string TBlockSocket::ReceiveLine(int timeout) {
  std::string line = ReceiveUntil(timeout, "\r\n");
  return LastSocketError == 0 ? line : std::string();
}

std::string TBlockSocket::ReceiveCountedText(int timeout) {
  unsigned char prefix[4] = {0, 0, 0, 0};
  ReceiveExactly(prefix, 4, timeout);
  if (LastSocketError != 0) return std::string();
  return ReceiveText(static_cast<std::int32_t>(ReadLengthPrefix(prefix)), timeout);
}

void TBlockSocket::ReceiveStreamData(std::ostream& stream, int timeout) {
  unsigned char prefix[4] = {0, 0, 0, 0};
  ReceiveExactly(prefix, 4, timeout);
  if (LastSocketError != 0) return;
  const std::uint32_t length = ReadLengthPrefix(prefix);
  for (std::uint32_t i = 0; i < length / kTransferPiece; ++i) {
    std::string piece = ReceiveText(kTransferPiece, timeout);
    if (LastSocketError != 0) return;
    stream.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  }
  const std::uint32_t rest = length % kTransferPiece;
  if (rest > 0) {
    std::string piece = ReceiveText(static_cast<int>(rest), timeout);
    if (LastSocketError != 0) return;
    stream.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  }
}

int TBlockSocket::PeekData(void* buffer, int length) {
  int result = SocketApi().recv(Handle, static_cast<char*>(buffer), length, kPeekFlag);
  RecordCallResult(result);
  CheckAndReport();
  return result;
}

std::uint8_t TBlockSocket::PeekOctet(int timeout) {
  std::uint8_t value = 0;
  if (WaitReadable(timeout)) {
    PeekData(&value, 1);
  } else {
    LastSocketError = kErrorTimedOut;
  }
  CheckAndReport();
  return value;
}

int TBlockSocket::PendingByteCount() {
  std::uint32_t count = 0;
  if (SocketApi().ioctlsocket(Handle, static_cast<std::int32_t>(kIoctlBytesReadable), &count) != 0) return 0;
  return count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(count);
}

bool TBlockSocket::WaitReadable(int timeout) {
  tarnwick::DescriptorSet ready = DescriptorSet;
  WaitLimit limit{timeout / 1000, (timeout % 1000) * 1000};
  int result = SocketApi().select(static_cast<int>(Handle + 1), &ready, nullptr, nullptr,
                                  timeout == -1 ? nullptr : &limit);
  RecordCallResult(result);
  const bool readable = LastSocketError == 0 && result > 0;
  CheckAndReport();
  if (readable) ReportStatus(StatusReadable, std::string());
  return readable;
}

void TBlockSocket::DiscardInput() { DiscardInput(static_cast<std::size_t>(-1)); }

void TBlockSocket::DiscardInput(std::size_t limit) {
  std::size_t discarded = 0;
  do {
    discarded += ReceiveChunk(0).size();
  } while (LastSocketError == 0 && discarded <= limit);
  LastSocketError = 0;
}

// ---- filters and the rate limiter -----------------------------------------

void TBlockSocket::FilterIncoming(void* buffer, int& length) {
  if (!ReadFilterHandler || length <= 0) return;
  std::string bytes(static_cast<const char*>(buffer), static_cast<std::size_t>(length));
  ReadFilterHandler(*this, bytes);
  if (bytes.size() > static_cast<std::size_t>(length)) bytes.resize(static_cast<std::size_t>(length));
  length = static_cast<int>(bytes.size());
  if (length > 0) std::memcpy(buffer, bytes.data(), bytes.size());
}

void TBlockSocket::FilterOutgoing(const void*& buffer, int& length) {
  if (!WriteFilterHandler || length <= 0) return;
  filteredOutgoing_.assign(static_cast<const char*>(buffer), static_cast<std::size_t>(length));
  WriteFilterHandler(*this, filteredOutgoing_);
  if (filteredOutgoing_.size() > static_cast<std::size_t>(length)) {
    filteredOutgoing_.resize(static_cast<std::size_t>(length));
  }
  length = static_cast<int>(filteredOutgoing_.size());
  buffer = filteredOutgoing_.data();
}

void TBlockSocket::ThrottleTransfer(int length, std::int32_t limit, std::uint32_t& nextTick) {
  if (limit <= 0) return;
  // The difference is read as signed so that a tick counter wrapping between
  // two transfers does not turn into a wait of weeks. A next tick of 0 was
  // never set: on a machine up for more than 24.8 days it would otherwise
  // read as a wait of the same length.
  // A signed difference alone still reads a tick left from 24.8 to 49.7
  // days ago as lying ahead: a socket idle that long would sleep for weeks.
  // Nothing below ever schedules further ahead than the longest wait, so a
  // tick further ahead is such a leftover and is not waited for.
  const auto wait = static_cast<std::int32_t>(nextTick - CurrentTick());
  if (nextTick != 0 && wait > 0 && static_cast<std::uint32_t>(wait) <= kLongestThrottleWaitMs) {
    ReportStatus(StatusThrottled, std::to_string(wait));
    std::this_thread::sleep_for(std::chrono::milliseconds(wait));
  }
  const double span =
      std::min(static_cast<double>(length) / limit * 1000.0, static_cast<double>(kLongestThrottleWaitMs));
  nextTick = static_cast<std::uint32_t>(span) + CurrentTick();
}

}  // namespace tarnwick
