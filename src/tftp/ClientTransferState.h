// The inside of ClientTransfer: what only the requesting side keeps (the
// request, its retries, the answers to it) on top of the data phase it
// shares with ServerTransfer (TransferRoles.h). Not a public header.
#pragma once

#include <string>

#include "tftp/ClientTransfer.h"
#include "tftp/TransferRoles.h"

namespace tarnwick::tftp {

enum class Phase { Idle, Requesting, Running };

struct ClientTransfer::State : RoleCore {
  State(TransferRequest r, const SocketAddress& s, FileSink* k, FileSource* f);

  TransferRequest request;
  SocketAddress server;
  Phase phase = Phase::Idle;

  OptionAsk ask;
  bool optionsInRequest = false;
  // The timeout option was added to a put's options only to learn the
  // server's timer (RetransmitTimer::PeerTimer), not asked for by the user.
  bool timeoutToLearn = false;
  bool optionsDropped = false;  // retried without options after ERROR 8
  std::string requestPacket;
  // Answers to the request from a host other than the server's: the first
  // one is named when the server itself never answers.
  std::optional<SocketAddress> strayAnswer;
  std::uint64_t invalidAnswers = 0;  // from the server's host, dropped

  // Giving up takes at least as long as the first wait doubled `retries`
  // times would: a short measured wait makes repeats come sooner, but a
  // device that pauses (a flash write) must not fail the transfer sooner.
  Clock::duration patience{};

  const SocketAddress& Target() const { return peer ? *peer : server; }

  void Start(TimePoint now, Outbox& out);
  void OnRequestAnswer(const SocketAddress& from, std::string_view datagram, TimePoint now, Outbox& out);
  void ApplyAgreed(const AgreedOptions& agreed, TimePoint now);
  void OnTimer(TimePoint now, Outbox& out);
};

}  // namespace tarnwick::tftp
