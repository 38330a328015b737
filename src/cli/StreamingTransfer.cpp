#include "cli/StreamingTransfer.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "app/WorkLogText.h"
#include "base/TextCodec.h"
#include "cli/JsonReport.h"
#include "cli/LocalFile.h"
#include "cli/ProgressLine.h"
#include "cli/DownloadFile.h"
#include "cli/UploadFile.h"
#include "cli/TransferText.h"
#include "cliutil/Console.h"
#include "cliutil/PasswordScrub.h"
#include "net/SocketError.h"
#include "tftp/TransferDriver.h"

namespace tarnwick::cli {

tftp::TransferRequest BuildRequest(const Options& o, std::string wireName) {
  tftp::TransferRequest r;
  r.kind = o.command == Command::Get ? tftp::TransferKind::Get : tftp::TransferKind::Put;
  r.remoteName = std::move(wireName);
  if (!o.noOptions) {
    r.blockSize = o.blockSize;
    r.windowSize = o.windowSize;
    r.transferSize = o.transferSize;
  }
  const std::int64_t wait = o.EffectiveTimeoutMs();
  r.wait = std::chrono::milliseconds(wait);
  r.maxWait = std::chrono::milliseconds(std::min<std::int64_t>(wait * kBackOffFactor, INT32_MAX));
  r.retries = o.retries;
  return r;
}

namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t FamilyOf(const Options& o) {
  if (o.family == 4) return kFamilyIPv4;
  if (o.family == 6) return kFamilyIPv6;
  return 0;
}

// Everything one run collects for its closing lines and the JSON object.
struct RunRecord {
  tftp::TransferOutcome outcome;
  std::string server;
  bool interrupted = false;
  double seconds = 0.0;
};

// Resolves, runs the transfer to its end (or to a stop signal) and draws the
// progress line meanwhile.
RunRecord Transfer(const Options& o, RunContext& context, tftp::TransferRequest request, tftp::FileSink* sink,
                   tftp::FileSource* source) {
  RunRecord record;
  const Clock::time_point start = Clock::now();
  SocketAddress server{};
  try {
    server = tftp::ResolveServer(o.host, o.port, FamilyOf(o));
  } catch (const ESocketError& e) {
    record.outcome.state = tftp::TransferState::Failed;
    record.outcome.reason = "cannot resolve " + o.host + " port " + o.port + ": " + e.Message();
    return record;
  }
  record.server = tftp::EndpointText(server);
  tftp::ClientTransfer transfer(std::move(request), server, sink, source);
  tftp::TransferDriver driver;
  driver.Add(transfer);
  const bool showProgress =
      o.progress == ProgressMode::Always || (o.progress == ProgressMode::Auto && context.errIsTerminal);
  ProgressMeter meter(context.err, showProgress, start);
  SetStopPolling(StopPolling::FirstSignal);
  const bool completed = driver.Run(
      [&] {
        meter.Update(transfer.Outcome().bytes, transfer.ExpectedSize(), Clock::now());
        return StopRequested();
      },
      "transfer interrupted by the user");
  SetStopPolling(StopPolling::None);
  meter.Clear();
  record.interrupted = !completed;
  record.outcome = transfer.Outcome();
  record.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return record;
}

void LogFailure(WorkLog& log, const char* failureLine, const RunRecord& record, const NameFields& fields,
                std::ostream& err) {
  log.Always(failureLine);
  // The window's line reads 0 and an empty text when no ERROR came.
  const int code = record.outcome.peerErrorCode < 0 ? 0 : record.outcome.peerErrorCode;
  log.Always(ErrorCodeLine(code, WithoutPassword(Cp932ToUtf8(record.outcome.peerErrorText), fields)));
  std::string why = record.outcome.reason;
  if (record.interrupted) {
    std::string signal = StopSignalName();
    why = "interrupted" + (signal.empty() ? std::string() : " by " + signal) +
          ": transfer abandoned, no partial file left";
  }
  // The reason may quote the device's text: one line, like the error line.
  if (!why.empty())
    err << "tarnwick-cli: " << OneLineText(WithoutPassword(Cp932ToUtf8(why), fields)) << '\n' << std::flush;
}

void WriteJson(const Options& o, RunContext& context, const RunRecord& record, const NameFields& fields,
               const std::string& shownName) {
  if (!o.json) return;
  JsonReport r;
  const tftp::TransferOutcome& out = record.outcome;
  r.command = o.command == Command::Get ? "get" : "put";
  r.result = out.state == tftp::TransferState::Succeeded ? "done"
             : record.interrupted                        ? "interrupted"
                                                         : "failed";
  r.remote = shownName;
  r.local = AbsolutePath(o.local);
  r.server = record.server;
  r.bytes = out.bytes;
  r.seconds = record.seconds;
  r.negotiated = out.agreed.negotiated;
  r.blockSize = out.agreed.blockSize;
  r.windowSize = out.agreed.windowSize;
  r.transferSize = out.agreed.transferSize;
  r.timeoutSeconds = out.agreed.timeoutSeconds;
  r.retransmissions = out.retransmissions;
  r.errorCode = out.peerErrorCode;
  r.errorText = WithoutPassword(Cp932ToUtf8(out.peerErrorText), fields);
  if (out.state != tftp::TransferState::Succeeded)
    r.reason = WithoutPassword(Cp932ToUtf8(out.reason), fields);
  context.out << FormatJsonReport(r) << std::flush;
}

void LogConnection(WorkLog& log, const Options& o) {
  log.Line(worklog::kEngineCreated);
  log.Line(worklog::kHostLine + o.host);
  log.Line(worklog::kPortLine + o.port);
}

void LogEnd(WorkLog& log) {
  log.Line(worklog::kEngineReleased);
  log.Line("");
}

int RunGet(const Options& o, RunContext& context, WorkLog& log) {
  NameFields fields{o.remote, o.password, o.delimiter, true};
  const std::string wire = WireName(TransferDirection::Receive, fields, o.rawName);
  const std::string shown = ShownName(TransferDirection::Receive, fields);
  DownloadFile target(o.local);  // before the transfer: an unwritable target costs no traffic
  GuardTemporaryFile(target.TemporaryPath());

  log.Line(worklog::kReceiveHeader);
  LogConnection(log, o);
  log.Line(worklog::kReceiving);
  log.Line(worklog::kReceiveRemoteName + shown);
  RunRecord record = Transfer(o, context, BuildRequest(o, wire), &target, nullptr);
  const bool ok = record.outcome.state == tftp::TransferState::Succeeded;
  GuardTemporaryFile("");
  if (ok) {
    target.Commit();
    log.Line(worklog::kReceiveLocalName + AbsolutePath(o.local));
    log.Line(worklog::kReceiveDone);
  } else {
    target.Discard();
    LogFailure(log, worklog::kReceiveFailed, record, fields, context.err);
  }
  LogEnd(log);
  WriteJson(o, context, record, fields, shown);
  return ok ? kExitDone : kExitTransferFailed;
}

int RunPut(const Options& o, RunContext& context, WorkLog& log) {
  NameFields fields{o.remote, o.password, o.delimiter, true};
  const std::string wire = WireName(TransferDirection::Send, fields, o.rawName);
  const std::string shown = ShownName(TransferDirection::Send, fields);

  log.Line(worklog::kSendHeader);
  LogConnection(log, o);
  log.Line(worklog::kSending);
  log.Line(worklog::kSendLocalName + AbsolutePath(o.local));
  log.Line(worklog::kSendRemoteName + shown);
  UploadFile source(o.local);
  RunRecord record = Transfer(o, context, BuildRequest(o, wire), nullptr, &source);
  const bool ok = record.outcome.state == tftp::TransferState::Succeeded;
  if (ok)
    log.Line(worklog::kSendDone);
  else
    LogFailure(log, worklog::kSendFailed, record, fields, context.err);
  LogEnd(log);
  WriteJson(o, context, record, fields, shown);
  return ok ? kExitDone : kExitTransferFailed;
}

}  // namespace

int RunStreamingTransfer(const Options& options, RunContext& context) {
  WorkLog log(context.err, options.quiet);
  return options.command == Command::Get ? RunGet(options, context, log) : RunPut(options, context, log);
}

}  // namespace tarnwick::cli
