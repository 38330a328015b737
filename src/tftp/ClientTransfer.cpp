// The state machine behind ClientTransfer. Block positions are counted with
// 64 bits from 1 (the wire's 16-bit numbers are their low halves), so block
// numbers wrap freely and files of any size keep exact offsets.
#include "tftp/ClientTransfer.h"

#include <algorithm>
#include <cstring>

#include "tftp/TftpOptions.h"
#include "tftp/TftpPacket.h"
#include "tftp/TransferDriver.h"

namespace tarnwick::tftp {

namespace {

enum class Phase { Idle, Requesting, Running, Done };

bool SameHost(const SocketAddress& a, const SocketAddress& b) {
  if (a.family != b.family) return false;
  if (a.family == kFamilyIPv4) return std::memcmp(a.IPv4Bytes(), b.IPv4Bytes(), 4) == 0;
  if (a.family == kFamilyIPv6) return std::memcmp(a.IPv6Bytes(), b.IPv6Bytes(), 16) == 0;
  return false;
}

bool SameEndpoint(const SocketAddress& a, const SocketAddress& b) {
  return a.port == b.port && SameHost(a, b);
}

void WriteHeader(std::string& out, std::uint16_t opcode, std::uint16_t number) {
  out[0] = static_cast<char>(opcode >> 8);
  out[1] = static_cast<char>(opcode & 0xFF);
  out[2] = static_cast<char>(number >> 8);
  out[3] = static_cast<char>(number & 0xFF);
}

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
constexpr char kDiskFull[] = "Disk full or allocation exceeded";
constexpr char kIllegalOperation[] = "Illegal TFTP operation";

}  // namespace

std::string& Outbox::Add(const SocketAddress& to) {
  if (count_ == slots_.size()) slots_.emplace_back();
  Datagram& slot = slots_[count_++];
  slot.to = to;
  slot.bytes.clear();
  return slot.bytes;
}

struct ClientTransfer::State {
  TransferRequest request;
  SocketAddress server;
  SocketAddress peer{};
  bool peerKnown = false;
  FileSink* sink;
  FileSource* source;
  TransferOutcome outcome;
  Phase phase = Phase::Idle;

  OptionAsk ask;
  bool optionsInRequest = false;
  bool optionsDropped = false;  // retried without options after ERROR 8
  std::string requestPacket;
  std::uint64_t sourceSize = 0;

  Clock::duration baseWait;
  Clock::duration maxWait;
  Clock::duration wait;
  TimePoint deadline = TimePoint::max();
  int timeouts = 0;

  std::uint32_t blockSize = 512;
  std::uint32_t windowSize = 1;
  // Get: the next block expected and how many arrived since our last ACK.
  std::uint64_t expected = 1;
  std::uint32_t inWindow = 0;
  bool gapAcknowledged = false;
  // Put: the first block not yet acknowledged, the next one to send, the last.
  std::uint64_t base = 1;
  std::uint64_t next = 1;
  std::uint64_t lastBlock = 1;

  State(TransferRequest r, const SocketAddress& s, FileSink* k, FileSource* f)
      : request(std::move(r)), server(s), sink(k), source(f) {
    baseWait = request.wait;
    maxWait = std::max<Clock::duration>(request.maxWait, baseWait);
    wait = baseWait;
  }

  bool IsGet() const { return request.kind == TransferKind::Get; }
  const SocketAddress& Target() const { return peerKnown ? peer : server; }

  void Arm(TimePoint now) { deadline = now + wait; }
  void Progress() {
    timeouts = 0;
    wait = baseWait;
  }

  void Finish(TransferState state) {
    phase = Phase::Done;
    outcome.state = state;
    deadline = TimePoint::max();
  }
  void Fail(std::string reason) {
    outcome.reason = std::move(reason);
    Finish(TransferState::Failed);
  }
  // Tells the peer why we stop (when we know who it is) and fails.
  void FailWithError(std::uint16_t code, std::string_view text, std::string reason, Outbox& out) {
    if (peerKnown) BuildErrorPacket(out.Add(peer), code, text);
    Fail(std::move(reason));
  }
  void FailFromPeer(std::string_view datagram) {
    const PeerError error = ReadError(datagram);
    outcome.peerErrorCode = error.code;
    outcome.peerErrorText = error.text;
    Fail("the server answered with ERROR " + std::to_string(error.code) +
         (error.text.empty() ? std::string() : ": " + error.text));
  }

  void SendAck(std::uint16_t block, Outbox& out) {
    std::string& b = out.Add(peer);
    b.resize(kHeaderSize);
    WriteHeader(b, kAck, block);
  }

  // A datagram from anyone but the peer: the sender hears ERROR 5 (unless it
  // sent an ERROR itself or something that is no TFTP packet at all).
  void AnswerStranger(const SocketAddress& from, std::string_view datagram, Outbox& out) {
    if (datagram.size() < kHeaderSize) return;
    const std::uint16_t opcode = ReadOpcode(datagram);
    if (opcode < kRrq || opcode > kOack || opcode == kError) return;
    BuildErrorPacket(out.Add(from), 5, kUnknownTransferId);
  }

  void Start(TimePoint now, Outbox& out);
  void OnRequestAnswer(const SocketAddress& from, std::string_view datagram, TimePoint now, Outbox& out);
  void OnPeerDatagram(std::string_view datagram, TimePoint now, Outbox& out);
  void OnData(std::string_view datagram, TimePoint now, Outbox& out);
  void OnAck(std::uint16_t number, TimePoint now, Outbox& out);
  void BeginSending(TimePoint now, Outbox& out);
  bool SendWindow(Outbox& out);
  void ApplyAgreed(const AgreedOptions& agreed);
};

ClientTransfer::ClientTransfer(TransferRequest request, const SocketAddress& server, FileSink* sink,
                               FileSource* source)
    : s_(std::make_unique<State>(std::move(request), server, sink, source)) {}
ClientTransfer::~ClientTransfer() = default;

void ClientTransfer::State::Start(TimePoint now, Outbox& out) {
  if (phase != Phase::Idle) return;
  if (IsGet() ? sink == nullptr : source == nullptr) return Fail("no local file to transfer");
  if (!IsGet()) {
    sourceSize = source->Size();
    lastBlock = sourceSize / blockSize + 1;
  }
  std::string reason;
  ask = AskedOptions(request, sourceSize, reason);
  if (!reason.empty()) return Fail(reason);
  optionsInRequest = ask.Any();
  BuildOptionRequest(requestPacket, IsGet() ? kRrq : kWrq, request.remoteName, ask);
  out.Add(server) = requestPacket;
  phase = Phase::Requesting;
  Arm(now);
}

void ClientTransfer::State::ApplyAgreed(const AgreedOptions& agreed) {
  outcome.agreed = agreed;
  blockSize = agreed.blockSize;
  windowSize = agreed.windowSize;
  if (!IsGet()) lastBlock = sourceSize / blockSize + 1;
  if (agreed.timeoutSeconds) {
    baseWait = std::chrono::seconds(*agreed.timeoutSeconds);
    maxWait = std::max(maxWait, baseWait);
  }
  Progress();
}

void ClientTransfer::State::OnRequestAnswer(const SocketAddress& from, std::string_view datagram,
                                            TimePoint now, Outbox& out) {
  if (!SameHost(from, server)) return AnswerStranger(from, datagram, out);
  const std::uint16_t opcode = ReadOpcode(datagram);
  if (datagram.size() < kHeaderSize && !(opcode == kOack && datagram.size() >= 2)) {
    return Fail("malformed answer to the request (" + std::to_string(datagram.size()) + " bytes)");
  }
  if (opcode == kError) {
    if (ReadNumber(datagram, 2) == 8 && optionsInRequest && !optionsDropped) {
      // The server refuses the options: ask once more the plain way.
      optionsDropped = true;
      optionsInRequest = false;
      ask = OptionAsk();
      BuildRequest(requestPacket, IsGet() ? kRrq : kWrq, request.remoteName);
      out.Add(server) = requestPacket;
      Progress();
      Arm(now);
      return;
    }
    return FailFromPeer(datagram);
  }
  // The first answer fixes the server's transfer ID.
  peer = from;
  peerKnown = true;
  if (opcode == kOack) {
    if (!optionsInRequest) {
      return FailWithError(8, "No options were requested",
                           "the server sent an OACK to a request without options", out);
    }
    AgreedOptions agreed;
    std::string reason;
    if (!AcceptOack(datagram, ask, request.kind, agreed, reason))
      return FailWithError(8, reason, reason, out);
    ApplyAgreed(agreed);
    phase = Phase::Running;
    if (IsGet()) {
      SendAck(0, out);
      Arm(now);
      return;
    }
    return BeginSending(now, out);
  }
  if (IsGet() && opcode == kData && ReadNumber(datagram, 2) == 1) {
    ApplyAgreed(AgreedOptions());  // options ignored: plain lock step
    phase = Phase::Running;
    return OnData(datagram, now, out);
  }
  if (!IsGet() && opcode == kAck && ReadNumber(datagram, 2) == 0) {
    ApplyAgreed(AgreedOptions());
    phase = Phase::Running;
    return BeginSending(now, out);
  }
  FailWithError(4, kIllegalOperation,
                std::string("unexpected ") + OpcodeName(opcode) + " " +
                    std::to_string(ReadNumber(datagram, 2)) + " in answer to the request",
                out);
}

void ClientTransfer::State::OnPeerDatagram(std::string_view datagram, TimePoint now, Outbox& out) {
  const std::uint16_t opcode = ReadOpcode(datagram);
  if (datagram.size() < kHeaderSize) {
    if (opcode == kOack && datagram.size() >= 2) return;  // a late copy of the OACK
    return FailWithError(4, kIllegalOperation,
                         "malformed datagram from the server (" + std::to_string(datagram.size()) + " bytes)",
                         out);
  }
  if (opcode == kData && IsGet()) return OnData(datagram, now, out);
  if (opcode == kAck && !IsGet()) return OnAck(ReadNumber(datagram, 2), now, out);
  if (opcode == kError) return FailFromPeer(datagram);
  if (opcode == kOack) {
    // Our ACK 0 was lost: the server sends its OACK again. On a put a repeated
    // OACK is a repeated ACK 0 and earns nothing.
    if (IsGet() && expected == 1) {
      SendAck(0, out);
      Arm(now);
    }
    return;
  }
  FailWithError(4, kIllegalOperation, std::string("unexpected ") + OpcodeName(opcode) + " from the server",
                out);
}

void ClientTransfer::State::OnData(std::string_view datagram, TimePoint now, Outbox& out) {
  const std::uint16_t number = ReadNumber(datagram, 2);
  const std::string_view payload = datagram.substr(kHeaderSize);
  if (payload.size() > blockSize) {
    return FailWithError(4, kIllegalOperation,
                         "block " + std::to_string(number) + " is " + std::to_string(payload.size()) +
                             " bytes, more than the agreed " + std::to_string(blockSize),
                         out);
  }
  const auto ahead = static_cast<std::uint16_t>(number - static_cast<std::uint16_t>(expected));
  if (ahead == 0) {
    if (!payload.empty() && !sink->Write(payload)) {
      return FailWithError(3, kDiskFull,
                           "writing the local file failed at byte " + std::to_string(outcome.bytes), out);
    }
    outcome.bytes += payload.size();
    ++expected;
    gapAcknowledged = false;
    Progress();
    if (payload.size() < blockSize) {
      SendAck(number, out);
      const auto& announced = outcome.agreed.transferSize;
      if (announced && *announced != outcome.bytes) {
        return Fail("received " + std::to_string(outcome.bytes) + " bytes, the server announced " +
                    std::to_string(*announced));
      }
      return Finish(TransferState::Succeeded);
    }
    if (++inWindow >= windowSize) {
      SendAck(number, out);
      inWindow = 0;
    }
    Arm(now);
    return;
  }
  const auto lastInOrder = static_cast<std::uint16_t>(expected - 1);
  if (ahead < 0x8000) {
    // A gap: one ACK of the last block in order makes the server go back;
    // later blocks of this window are dropped without another ACK.
    if (!gapAcknowledged) {
      SendAck(lastInOrder, out);
      gapAcknowledged = true;
      inWindow = 0;
      Arm(now);
    }
    return;
  }
  // A block we have: the server missed our ACK. Answer the newest one only,
  // so a window sent again costs one ACK, not one per block.
  if (number == lastInOrder) {
    SendAck(lastInOrder, out);
    inWindow = 0;
    Arm(now);
  }
}

void ClientTransfer::State::BeginSending(TimePoint now, Outbox& out) {
  base = next = 1;
  if (!SendWindow(out)) return;
  Arm(now);
}

// Sends the blocks from `next` up to the end of the window that starts at
// `base`. False when the local file could not be read (the transfer failed).
bool ClientTransfer::State::SendWindow(Outbox& out) {
  const std::uint64_t end = std::min(base + windowSize - 1, lastBlock);
  for (; next <= end; ++next) {
    const std::uint64_t offset = (next - 1) * blockSize;
    const std::size_t length =
        static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, sourceSize - offset));
    std::string& b = out.Add(peer);
    b.resize(kHeaderSize + length);
    WriteHeader(b, kData, static_cast<std::uint16_t>(next));
    const long long got = length ? source->Read(offset, &b[kHeaderSize], length) : 0;
    if (got != static_cast<long long>(length)) {
      out.RemoveLast();
      FailWithError(
          0, "read error",
          got < 0 ? "reading the local file failed at byte " + std::to_string(offset)
                  : "the local file ended early, at byte " + std::to_string(offset + std::max(got, 0LL)),
          out);
      return false;
    }
  }
  return true;
}

void ClientTransfer::State::OnAck(std::uint16_t number, TimePoint now, Outbox& out) {
  const std::uint64_t lastAcked = base - 1;
  const auto delta = static_cast<std::uint16_t>(number - static_cast<std::uint16_t>(lastAcked));
  // A repeated ACK (delta 0) or one for a block never sent: no resend, ever.
  if (delta == 0 || delta > next - 1 - lastAcked) return;
  const std::uint64_t acked = lastAcked + delta;
  base = acked + 1;
  outcome.bytes = std::min<std::uint64_t>(acked * blockSize, sourceSize);
  Progress();
  if (acked == lastBlock) return Finish(TransferState::Succeeded);
  // Blocks after the acknowledged one went missing: send them again.
  outcome.retransmissions += next - base;
  next = base;
  if (!SendWindow(out)) return;
  Arm(now);
}

void ClientTransfer::Start(TimePoint now, Outbox& out) { s_->Start(now, out); }

void ClientTransfer::OnDatagram(const SocketAddress& from, std::string_view datagram, TimePoint now,
                                Outbox& out) {
  State& s = *s_;
  if (s.phase == Phase::Requesting) return s.OnRequestAnswer(from, datagram, now, out);
  if (s.phase != Phase::Running) return;
  if (!SameEndpoint(from, s.peer)) return s.AnswerStranger(from, datagram, out);
  s.OnPeerDatagram(datagram, now, out);
}

void ClientTransfer::OnTimer(TimePoint now, Outbox& out) {
  State& s = *s_;
  if (s.phase != Phase::Requesting && s.phase != Phase::Running) return;
  if (now < s.deadline) return;
  if (s.timeouts >= s.request.retries) {
    return s.Fail("no answer from " + EndpointText(s.Target()) + " after " + std::to_string(s.timeouts) +
                  " retries");
  }
  ++s.timeouts;
  s.wait = std::min(s.wait * 2, s.maxWait);
  if (s.phase == Phase::Requesting) {
    out.Add(s.server) = s.requestPacket;
    ++s.outcome.retransmissions;
  } else if (s.IsGet()) {
    s.SendAck(static_cast<std::uint16_t>(s.expected - 1), out);
    s.inWindow = 0;
    ++s.outcome.retransmissions;
  } else {
    s.outcome.retransmissions += std::min(s.next, s.lastBlock + 1) - s.base;
    s.next = s.base;
    if (!s.SendWindow(out)) return;
  }
  s.Arm(now);
}

void ClientTransfer::Abandon(std::string_view reason, Outbox& out) {
  State& s = *s_;
  if (s.phase == Phase::Done) return;
  s.FailWithError(0, reason, std::string(reason), out);
}

TimePoint ClientTransfer::Deadline() const {
  return s_->phase == Phase::Done ? TimePoint::max() : s_->deadline;
}
bool ClientTransfer::Finished() const { return s_->phase == Phase::Done; }
const TransferOutcome& ClientTransfer::Outcome() const { return s_->outcome; }
const TransferRequest& ClientTransfer::Request() const { return s_->request; }
const SocketAddress& ClientTransfer::Server() const { return s_->server; }

std::optional<std::uint64_t> ClientTransfer::ExpectedSize() const {
  if (!s_->IsGet()) return s_->source ? std::optional<std::uint64_t>(s_->source->Size()) : std::nullopt;
  return s_->outcome.agreed.transferSize;
}

}  // namespace tarnwick::tftp
