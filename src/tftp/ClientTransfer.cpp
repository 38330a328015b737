// The requesting side of a transfer: the request and its answer, its
// time-outs and retries, and the public calls. The data phase after it is
// the roles' (TransferRoles.cpp, ReceiveRole.cpp, SendRole.cpp).
#include "tftp/ClientTransfer.h"

#include <algorithm>

#include "tftp/ClientTransferState.h"
#include "tftp/EndpointText.h"
#include "tftp/TftpPacket.h"

namespace tarnwick::tftp {

namespace {

std::variant<ReceiveRole, SendRole> SideFor(TransferKind kind, FileSink* sink, FileSource* source) {
  if (kind == TransferKind::Get) {
    ReceiveRole get;
    get.sink = sink;
    return get;
  }
  SendRole put;
  put.source = source;
  return put;
}

}  // namespace

std::uint32_t StreamWindow(const TransferRequest& request) {
  const std::uint64_t window = request.windowSize.value_or(1);
  const std::uint64_t fits = request.streamHold / request.blockSize.value_or(512);
  return static_cast<std::uint32_t>(std::max<std::uint64_t>(1, std::min(window, fits)));
}

ClientTransfer::State::State(TransferRequest r, const SocketAddress& s, FileSink* k, FileSource* f)
    : RoleCore(SideFor(r.kind, k, f), r.wait, r.maxWait, "server"), request(std::move(r)), server(s) {
  if (!IsGet()) timer.QuietAfterRepeats();
  Clock::duration wait = request.wait;
  const Clock::duration cap = std::max<Clock::duration>(request.maxWait, request.wait);
  for (int i = 0; i <= std::min(request.retries, 1000); ++i) {
    patience += wait;
    wait = std::min(wait * 2, cap);
  }
}

void ClientTransfer::State::Start(TimePoint now, Outbox& out) {
  if (phase != Phase::Idle || Finished()) return;
  std::uint64_t sourceSize = 0;
  TransferRequest asked = request;
  if (IsGet()) {
    if (Get().sink == nullptr) return Fail("no local file to transfer");
  } else {
    SendRole& put = Put();
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
  } else {
    DataTimedOut(now, out);
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

void ClientTransfer::Abandon(std::string_view reason, Outbox& out) { s_->Abandon(reason, out); }

TimePoint ClientTransfer::Deadline() const { return s_->deadline; }
bool ClientTransfer::Finished() const { return s_->Finished(); }
std::optional<Linger> ClientTransfer::Lingering() const { return s_->Lingering(); }
const TransferOutcome& ClientTransfer::Outcome() const { return s_->outcome; }
const TransferRequest& ClientTransfer::Request() const { return s_->request; }
const SocketAddress& ClientTransfer::Server() const { return s_->server; }

std::optional<std::uint64_t> ClientTransfer::ExpectedSize() const {
  if (s_->IsGet()) return s_->outcome.agreed.transferSize;
  const SendRole& put = std::get<SendRole>(s_->side);
  if (put.source == nullptr || !put.source->SizeKnown()) return std::nullopt;
  return put.source->Size();
}

}  // namespace tarnwick::tftp
