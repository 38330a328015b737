// One line per transfer: a human one-liner by default, or with --log-json
// one JSON object per line (time, client, file, direction, bytes, seconds,
// options, retransmissions, result, reason) for whoever must know which
// device got which file. Names are the client's bytes, escaped (LogText).
#pragma once

#include <cstdint>
#include <string>

#include "serve/ServerRequest.h"
#include "tftp/ClientTransfer.h"

namespace tarnwick::serve {

struct TransferRecord {
  std::int64_t unixMs = 0;  // when the transfer ended (or was refused)
  std::string client;       // "192.0.2.7:50123", "[2001:db8::7]:50123"
  std::string file;         // the requested name as it came
  RequestKind direction = RequestKind::Read;
  TransferMode mode = TransferMode::Octet;
  std::uint64_t bytes = 0;
  double seconds = 0.0;
  tftp::AgreedOptions options;
  std::uint64_t retransmissions = 0;
  std::string result;  // "done", "failed" or "refused"
  std::string reason;  // why not done, cause first; empty when done
};

// What serve --archive did with a push once it could have DEST (device
// set), or with a batch's commit (device empty).
struct ArchiveRecord {
  std::int64_t unixMs = 0;
  std::string device;
  std::string from;     // the sender's address
  std::string result;   // new, changed, unchanged, refused, failed; committed, nothing to commit
  std::string history;  // changed: where the copy it replaced went
  std::string commit;   // committed: the commit's id
  std::string reason;   // refused, failed: why; a commit's warning
};

// Now, as milliseconds since 1970 (the records' time).
std::int64_t UnixMsNow();

// "2026-12-08T11:25:31.123Z"
std::string UtcTimestamp(std::int64_t unixMs);

// Both end with a line break.
std::string FormatHumanLine(const TransferRecord& record);
std::string FormatJsonLine(const TransferRecord& record);
std::string FormatHumanLine(const ArchiveRecord& record);
std::string FormatJsonLine(const ArchiveRecord& record);

}  // namespace tarnwick::serve
