// The server's opening moves and time-outs; the data phase is the roles'.
#include "tftp/ServerTransfer.h"

#include "tftp/EndpointText.h"
#include "tftp/TftpPacket.h"
#include "tftp/TransferRoles.h"

namespace tarnwick::tftp {

namespace {

ReceiveRole Receiving(FileSink* sink) {
  ReceiveRole role;
  role.sink = sink;
  return role;
}

SendRole Sending(FileSource* source) {
  SendRole role;
  role.source = source;
  return role;
}

// Repeats of the opening datagram allowed before the client answered.
constexpr int kOpeningRepeats = 1;

}  // namespace

struct ServerTransfer::State : RoleCore {
  State(const SocketAddress& client, ServerSetup s, std::variant<ReceiveRole, SendRole> role)
      : RoleCore(std::move(role), s.wait, s.maxWait, "client"), setup(std::move(s)) {
    peer = client;
    outcome.agreed = setup.agreed;
    blockSize = setup.agreed.blockSize;
    windowSize = setup.agreed.windowSize;
    if (setup.agreed.timeoutSeconds) timer.Fix(std::chrono::seconds(*setup.agreed.timeoutSeconds));
    if (!IsGet()) timer.QuietAfterRepeats();
  }

  ServerSetup setup;
  bool opening = false;  // the OACK is out, the client's first answer is not in
  bool started = false;
  int openingRepeats = 0;

  void SendOpening(TimePoint now, Outbox& out);
  void RepeatOpening(TimePoint now, Outbox& out);
  void OnOpeningAnswer(std::string_view datagram, TimePoint now, Outbox& out);
};

// The first datagram: the OACK, else DATA 1 (read) or ACK 0 (write).
void ServerTransfer::State::SendOpening(TimePoint now, Outbox& out) {
  if (opening) {
    out.Add(*peer) = setup.oack;
  } else if (IsGet()) {
    SendAck(0, now, out);
  } else {
    // One block until the client has answered, whatever the window.
    const std::uint32_t window = windowSize;
    windowSize = 1;
    SendWindow(out);
    windowSize = window;
  }
}

void ServerTransfer::State::RepeatOpening(TimePoint now, Outbox& out) {
  ++openingRepeats;
  ++outcome.retransmissions;
  timedSend.reset();
  if (opening || IsGet()) {
    SendOpening(now, out);
  } else {
    SendRole& put = Put();
    put.next = put.base;
    put.askBeforeResend = true;
    SendOpening(now, out);
  }
}

// While the OACK waits for its answer: ACK 0 to a read, DATA 1 to a write
// (or a later block, handled as a gap), or an ERROR (the client refuses
// the options). Other ACKs to a read are stale or forged and dropped.
void ServerTransfer::State::OnOpeningAnswer(std::string_view datagram, TimePoint now, Outbox& out) {
  if (datagram.size() >= kHeaderSize && ReadOpcode(datagram) == kAck && !IsGet()) {
    if (HeaderNumber(datagram) != 0) return;
    opening = false;
    Progress(now);
    return BeginSending(now, out);
  }
  if (datagram.size() >= kHeaderSize && ReadOpcode(datagram) == kData) opening = false;
  OnPeerDatagram(datagram, now, out);
}

ServerTransfer::ServerTransfer(const SocketAddress& client, ServerSetup setup, FileSource* source)
    : s_(std::make_unique<State>(client, std::move(setup), Sending(source))) {}
ServerTransfer::ServerTransfer(const SocketAddress& client, ServerSetup setup, FileSink* sink)
    : s_(std::make_unique<State>(client, std::move(setup), Receiving(sink))) {}
ServerTransfer::~ServerTransfer() = default;

void ServerTransfer::Start(TimePoint now, Outbox& out) {
  State& s = *s_;
  if (s.started || s.Finished()) return;
  s.started = true;
  s.lastProgress = now;
  if (s.IsGet() ? s.Get().sink == nullptr : s.Put().source == nullptr) return s.Fail("no file to transfer");
  if (!s.IsGet()) {
    SendRole& put = s.Put();
    put.sizeKnown = put.source->SizeKnown();
    if (put.sizeKnown) {
      put.size = put.endBytes = put.source->Size();
      put.lastBlock = put.size / s.blockSize + 1;
    }
  }
  s.opening = !s.setup.oack.empty();
  s.SendOpening(now, out);
  if (s.Finished()) return;
  s.SentFresh(now);
  s.Arm(now);
}

void ServerTransfer::OnDatagram(const SocketAddress& from, std::string_view datagram, TimePoint now,
                                Outbox& out) {
  State& s = *s_;
  if (s.Finished()) {
    if (const std::optional<Linger> linger = s.Lingering(); linger && now < linger->until)
      linger->Answer(from, datagram, out);
    return;
  }
  if (!s.started) return;
  if (!SameEndpoint(from, *s.peer)) return s.AnswerStranger(from, datagram, out);
  if (s.opening) return s.OnOpeningAnswer(datagram, now, out);
  s.OnPeerDatagram(datagram, now, out);
}

void ServerTransfer::OnRepeatedRequest(TimePoint now, Outbox& out) {
  State& s = *s_;
  // Once the client has answered, its repeated request is an old copy: the
  // running data phase answers for itself.
  if (!s.started || s.Finished() || s.progressed || s.openingRepeats >= kOpeningRepeats) return;
  s.RepeatOpening(now, out);
  s.Arm(now);
}

void ServerTransfer::OnTimer(TimePoint now, Outbox& out) {
  State& s = *s_;
  if (now < s.deadline || s.Finished() || !s.started) return;
  if (!s.progressed) {
    if (s.openingRepeats >= kOpeningRepeats)
      return s.Fail("no answer from " + EndpointText(*s.peer) + " to the server's first datagram");
    s.timer.BackOff();
    s.RepeatOpening(now, out);
    s.Arm(now);
    return;
  }
  if (!s.opening && s.IsGet() && s.AcknowledgeShortWindow(now, out)) return;
  if (s.timeouts >= s.setup.retries)
    return s.Fail("no answer from " + EndpointText(*s.peer) + " after " + std::to_string(s.timeouts) +
                  " retries");
  ++s.timeouts;
  s.timer.BackOff();
  s.timedSend.reset();
  if (s.opening) {
    out.Add(*s.peer) = s.setup.oack;
    ++s.outcome.retransmissions;
  } else {
    s.DataTimedOut(now, out);
    if (s.Finished()) return;
  }
  s.Arm(now);
}

void ServerTransfer::Abandon(std::string_view reason, Outbox& out) { s_->Abandon(reason, out); }

TimePoint ServerTransfer::Deadline() const { return s_->deadline; }
bool ServerTransfer::Finished() const { return s_->Finished(); }
std::optional<Linger> ServerTransfer::Lingering() const { return s_->Lingering(); }
const TransferOutcome& ServerTransfer::Outcome() const { return s_->outcome; }
const SocketAddress& ServerTransfer::Client() const { return *s_->peer; }
bool ServerTransfer::IsRead() const { return !s_->IsGet(); }

}  // namespace tarnwick::tftp
