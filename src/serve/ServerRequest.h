// A request datagram at the listening port (RRQ or WRQ, RFC 1350 with the
// RFC 2347 option block) read into what the server needs, and the answer
// to its options against the server's caps (RFC 2348 blksize, 2349 tsize
// and timeout, 7440 windowsize). Any bytes give a result, never a throw or
// a read past the end: a request to serve, one to refuse with an ERROR, or a
// datagram to drop without a word (so nothing at the port answers noise,
// stray ERRORs or another server's packets).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "serve/Refusal.h"
#include "tftp/ClientTransfer.h"
#include "tftp/TftpOptions.h"

namespace tarnwick::serve {

enum class RequestVerdict : std::uint8_t { Serve, Refuse, Drop };
enum class RequestKind : std::uint8_t { Read, Write };
enum class TransferMode : std::uint8_t { Octet, Netascii };

// Option pairs read from one request; the rest of a flood is ignored.
inline constexpr std::size_t kMaxOptionPairs = 32;

struct ServerCaps {
  std::uint32_t maxBlockSize = 65464;
  std::uint32_t maxWindowSize = 64;
  // A window's bytes in flight per transfer, whatever blksize x windowsize
  // a client asks: keeps a thousand transfers within memory.
  std::uint64_t maxWindowBytes = 1u << 20;
};

struct ServerRequest {
  RequestVerdict verdict = RequestVerdict::Drop;
  Refusal refusal;  // Refuse and Drop: why (for the log)
  RequestKind kind = RequestKind::Read;
  std::string name;  // the requested name's bytes, unchecked
  TransferMode mode = TransferMode::Octet;
  tftp::OptionAsk asked;           // known options with usable values, first of each
  std::size_t ignoredOptions = 0;  // unknown, repeated, unusable or past the limit
};

ServerRequest ParseServerRequest(std::string_view datagram);

struct OptionAnswer {
  tftp::AgreedOptions agreed;  // what the transfer runs with
  std::string oack;            // the OACK to send first; empty: start without one
};

// fileSize: on a read, the size tsize announces (none: tsize is not
// answered). On a write, tsize is the client's, echoed; the caller has
// checked it against the upload limit.
OptionAnswer AnswerOptions(const ServerRequest& request, const ServerCaps& caps,
                           std::optional<std::uint64_t> fileSize);

}  // namespace tarnwick::serve
