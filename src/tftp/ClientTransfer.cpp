// The parts of ClientTransfer both directions share: the Outbox, the request
// and its answer, time-outs, failures and the public calls. The get side is
// in ClientReceive.cpp, the put side in ClientSend.cpp.
#include "tftp/ClientTransfer.h"

#include <algorithm>

#include "tftp/ClientTransferState.h"
#include "tftp/EndpointText.h"
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

std::variant<GetSide, PutSide> SideFor(TransferKind kind, FileSink* sink, FileSource* source) {
  if (kind == TransferKind::Get) {
    GetSide get;
    get.sink = sink;
    return get;
  }
  PutSide put;
  put.source = source;
  return put;
}

}  // namespace

std::uint32_t StreamWindow(const TransferRequest& request) {
  const std::uint64_t window = request.windowSize.value_or(1);
  const std::uint64_t fits = request.streamHold / request.blockSize.value_or(512);
  return static_cast<std::uint32_t>(std::max<std::uint64_t>(1, std::min(window, fits)));
}

Outbox::Datagram& Outbox::NextSlot(const SocketAddress& to) {
  if (sender_ && count_ >= capacity_) sender_(*this);
  if (count_ == slots_.size()) slots_.emplace_back();
  Datagram& slot = slots_[count_++];
  slot.to = to;
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

ClientTransfer::State::State(TransferRequest r, const SocketAddress& s, FileSink* k, FileSource* f)
    : request(std::move(r)),
      server(s),
      side(SideFor(request.kind, k, f)),
      timer(request.wait, request.maxWait) {
  if (!IsGet()) timer.QuietAfterRepeats();
  Clock::duration wait = request.wait;
  const Clock::duration cap = std::max<Clock::duration>(request.maxWait, request.wait);
  for (int i = 0; i <= std::min(request.retries, 1000); ++i) {
    patience += wait;
    wait = std::min(wait * 2, cap);
  }
}

void ClientTransfer::State::Progress(TimePoint now) {
  timeouts = 0;
  lastProgress = now;
  if (timedSend) timer.Sample(now - *timedSend);
  timedSend.reset();
  timer.Progress();
}

void ClientTransfer::State::Finish(TransferState state) {
  outcome.state = state;
  deadline = TimePoint::max();
}

void ClientTransfer::State::Fail(std::string reason) {
  outcome.reason = std::move(reason);
  Finish(TransferState::Failed);
}

// Tells the peer why we stop (when we know who it is) and fails.
void ClientTransfer::State::FailWithError(std::uint16_t code, std::string_view text, std::string reason,
                                          Outbox& out) {
  if (peer) BuildErrorPacket(out.Add(*peer), code, text);
  Fail(std::move(reason));
}

// The local file, not the network or the device, ended the transfer.
void ClientTransfer::State::FailLocally(std::uint16_t code, std::string_view text, std::string reason,
                                        Outbox& out) {
  outcome.localFileFailed = true;
  FailWithError(code, text, std::move(reason), out);
}

void ClientTransfer::State::FailFromPeer(std::string_view datagram) {
  const PeerError error = ReadError(datagram);
  outcome.peerErrorCode = error.code;
  outcome.peerErrorText = error.text;
  Fail("the server answered with ERROR " + std::to_string(error.code) +
       (error.text.empty() ? std::string() : ": " + error.text));
}

// A datagram from anyone but the peer: the sender hears ERROR 5 (unless it
// sent an ERROR itself or something that is no TFTP packet at all).
void ClientTransfer::State::AnswerStranger(const SocketAddress& from, std::string_view datagram,
                                           Outbox& out) {
  if (datagram.size() < kHeaderSize) return;
  const std::uint16_t opcode = ReadOpcode(datagram);
  if (opcode < kRrq || opcode > kOack || opcode == kError) return;
  BuildErrorPacket(out.Add(from), 5, kUnknownTransferId);
}

void ClientTransfer::State::Start(TimePoint now, Outbox& out) {
  if (phase != Phase::Idle || Finished()) return;
  std::uint64_t sourceSize = 0;
  TransferRequest asked = request;
  if (IsGet()) {
    if (Get().sink == nullptr) return Fail("no local file to transfer");
  } else {
    PutSide& put = Put();
    if (put.source == nullptr) return Fail("no local file to transfer");
    put.sizeKnown = put.source->SizeKnown();
    if (put.sizeKnown) {
      put.size = sourceSize = put.source->Size();
      put.lastBlock = put.size / blockSize + 1;
      put.endBytes = put.size;
    } else {
      asked.transferSize = false;  // a stream has no size to announce
      if (asked.windowSize) asked.windowSize = StreamWindow(request);
    }
  }
  // A put that sends options anyway asks for the server's timer too: some
  // servers answer one repeated block and then only their own timer, which
  // each further repeat restarts, so after a few quick repeats the sender
  // waits that timer out (RetransmitTimer::PeerTimer). Our first wait,
  // in whole seconds, is a timer the server then keeps to.
  if (!IsGet() && !asked.timeoutSeconds && (asked.blockSize || asked.windowSize || asked.transferSize)) {
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(request.wait).count();
    asked.timeoutSeconds = static_cast<std::uint32_t>(std::clamp<std::int64_t>(seconds, 1, 255));
    timeoutToLearn = true;
  }
  std::string reason;
  ask = AskedOptions(asked, sourceSize, reason);
  if (!reason.empty()) return Fail(reason);
  optionsInRequest = ask.Any();
  BuildOptionRequest(requestPacket, IsGet() ? kRrq : kWrq, request.remoteName, ask);
  out.Add(server) = requestPacket;
  phase = Phase::Requesting;
  lastProgress = now;
  Arm(now);
}

void ClientTransfer::State::ApplyAgreed(const AgreedOptions& agreed, TimePoint now) {
  outcome.agreed = agreed;
  blockSize = agreed.blockSize;
  windowSize = agreed.windowSize;
  if (!IsGet() && Put().sizeKnown) Put().lastBlock = Put().size / blockSize + 1;
  // A timeout the user asked for and the server agreed to is its own wait:
  // ours keeps in step. One asked for only to learn it leaves our measured
  // waits alone and sets how long we stay quiet after repeats.
  if (agreed.timeoutSeconds && timeoutToLearn)
    timer.PeerTimer(std::chrono::seconds(*agreed.timeoutSeconds));
  else if (agreed.timeoutSeconds)
    timer.Fix(std::chrono::seconds(*agreed.timeoutSeconds));
  // The request's answer also measures the device opening its file: no
  // sample, but the retries start over.
  timedSend.reset();
  Progress(now);
}

// Only a valid first answer from the server's host moves the request on:
// DATA 1 (get), ACK 0 (put), an OACK, or an ERROR. Anything else, strays
// and short junk included, is dropped and the wait goes on, so that a
// leftover of an earlier transfer cannot end this one.
void ClientTransfer::State::OnRequestAnswer(const SocketAddress& from, std::string_view datagram,
                                            TimePoint now, Outbox& out) {
  if (!SameHost(from, server)) {
    if (!strayAnswer && datagram.size() >= kHeaderSize) strayAnswer = from;
    return AnswerStranger(from, datagram, out);
  }
  const std::uint16_t opcode = ReadOpcode(datagram);
  const bool oack = opcode == kOack && datagram.size() >= 2;
  if (datagram.size() < kHeaderSize && !oack) {
    ++invalidAnswers;
    return;
  }
  if (opcode == kError) {
    if (ReadNumber(datagram, 2) == 8 && optionsInRequest && !optionsDropped) {
      // The server refuses the options: ask once more the plain way.
      optionsDropped = true;
      optionsInRequest = false;
      ask = OptionAsk();
      BuildRequest(requestPacket, IsGet() ? kRrq : kWrq, request.remoteName);
      out.Add(server) = requestPacket;
      timeouts = 0;
      Arm(now);
      return;
    }
    return FailFromPeer(datagram);
  }
  const bool plainAnswer = IsGet() ? opcode == kData && ReadNumber(datagram, 2) == 1
                                   : opcode == kAck && ReadNumber(datagram, 2) == 0;
  if (!oack && !plainAnswer) {
    ++invalidAnswers;
    return;
  }
  // The first answer fixes the server's transfer ID.
  peer = from;
  phase = Phase::Running;
  if (oack) {
    if (!optionsInRequest) {
      return FailWithError(8, "No options were requested",
                           "the server sent an OACK to a request without options", out);
    }
    AgreedOptions agreed;
    std::string reason;
    if (!AcceptOack(datagram, ask, request.kind, agreed, reason))
      return FailWithError(8, reason, reason, out);
    ApplyAgreed(agreed, now);
    if (!IsGet()) return BeginSending(now, out);
    SendAck(0, now, out);
    SentFresh(now);
    Arm(now);
    return;
  }
  ApplyAgreed(AgreedOptions(), now);  // options ignored: plain lock step
  if (IsGet()) return OnData(datagram, now, out);
  BeginSending(now, out);
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
  FailWithError(4, kIllegalOperation, std::string("unexpected ") + OpcodeName(opcode) + " from the server",
                out);
}

void ClientTransfer::State::OnTimer(TimePoint now, Outbox& out) {
  if (now < deadline || Finished() || phase == Phase::Idle) return;
  if (phase == Phase::Running && IsGet() && AcknowledgeShortWindow(now, out)) return;
  if (timeouts >= request.retries && now - lastProgress >= patience) {
    if (phase == Phase::Requesting && strayAnswer) {
      return Fail("answers came from " + EndpointText(*strayAnswer) + ", not from the server's address (" +
                  EndpointText(server) + ")");
    }
    if (phase == Phase::Requesting && invalidAnswers > 0) {
      return Fail("no valid answer from " + EndpointText(server) + " after " + std::to_string(timeouts) +
                  " retries (" + std::to_string(invalidAnswers) +
                  (invalidAnswers == 1 ? " datagram that was" : " datagrams that were") +
                  " no valid answer to the request dropped)");
    }
    return Fail("no answer from " + EndpointText(Target()) + " after " + std::to_string(timeouts) +
                " retries");
  }
  ++timeouts;
  timer.BackOff();
  timedSend.reset();  // what goes out now is a repeat: its answer is no sample
  if (phase == Phase::Requesting) {
    out.Add(server) = requestPacket;
    ++outcome.retransmissions;
  } else if (IsGet()) {
    ReceiverTimedOut(now, out);
  } else {
    SenderTimedOut(out);
    if (Finished()) return;
  }
  Arm(now);
}

ClientTransfer::ClientTransfer(TransferRequest request, const SocketAddress& server, FileSink* sink,
                               FileSource* source)
    : s_(std::make_unique<State>(std::move(request), server, sink, source)) {}
ClientTransfer::~ClientTransfer() = default;

void ClientTransfer::Start(TimePoint now, Outbox& out) { s_->Start(now, out); }

void ClientTransfer::OnDatagram(const SocketAddress& from, std::string_view datagram, TimePoint now,
                                Outbox& out) {
  State& s = *s_;
  if (s.Finished()) {
    if (const std::optional<Linger> linger = Lingering(); linger && now < linger->until)
      linger->Answer(from, datagram, out);
    return;
  }
  if (s.phase == Phase::Requesting) return s.OnRequestAnswer(from, datagram, now, out);
  if (s.phase != Phase::Running) return;
  if (!SameEndpoint(from, *s.peer)) return s.AnswerStranger(from, datagram, out);
  s.OnPeerDatagram(datagram, now, out);
}

void ClientTransfer::OnTimer(TimePoint now, Outbox& out) { s_->OnTimer(now, out); }

void ClientTransfer::Abandon(std::string_view reason, Outbox& out) {
  State& s = *s_;
  if (s.IsGet()) s.Get().lingerUntil.reset();
  if (s.Finished()) return;
  s.FailWithError(0, reason, std::string(reason), out);
}

TimePoint ClientTransfer::Deadline() const { return s_->deadline; }
bool ClientTransfer::Finished() const { return s_->Finished(); }
std::optional<Linger> ClientTransfer::Lingering() const {
  if (!s_->IsGet() || !s_->Get().lingerUntil) return std::nullopt;
  const GetSide& get = s_->Get();
  return Linger{*s_->peer, static_cast<std::uint16_t>(get.expected - 1), *get.lingerUntil,
                get.lingerShortUntil};
}
const TransferOutcome& ClientTransfer::Outcome() const { return s_->outcome; }
const TransferRequest& ClientTransfer::Request() const { return s_->request; }
const SocketAddress& ClientTransfer::Server() const { return s_->server; }

std::optional<std::uint64_t> ClientTransfer::ExpectedSize() const {
  if (s_->IsGet()) return s_->outcome.agreed.transferSize;
  const PutSide& put = std::get<PutSide>(s_->side);
  if (put.source == nullptr || !put.source->SizeKnown()) return std::nullopt;
  return put.source->Size();
}

}  // namespace tarnwick::tftp
