#include "cli/StreamingTransfer.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "app/WorkLogText.h"
#include "base/TextCodec.h"
#include "cli/DownloadFile.h"
#include "cli/JsonReport.h"
#include "cli/ProgressLine.h"
#include "cli/TransferText.h"
#include "cli/UploadFile.h"
#include "cliutil/Console.h"
#include "cliutil/LocalFiles.h"
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
  // A local file failed (exit status 2): our own words, UTF-8, in place of
  // the engine's reason.
  std::string localFailure;

  bool Done() const {
    return outcome.state == tftp::TransferState::Succeeded && localFailure.empty() && !interrupted;
  }
  // A stop request that let a blocked pipe go fails it too: that is the
  // interruption, not the file's fault.
  bool LocalFailed() const { return !interrupted && (!localFailure.empty() || outcome.localFileFailed); }
  int ExitCode() const {
    return Done() ? kExitDone : LocalFailed() ? kExitUsageOrLocalFile : kExitTransferFailed;
  }
  // Why it failed, one line, password scrubbed: the engine's reason may
  // quote the device's CP932 text, so it is scrubbed as bytes and decoded.
  std::string Reason(const NameFields& fields) const {
    if (!localFailure.empty()) return OneLineText(WithoutPassword(localFailure, fields));
    return OneLineText(Cp932ToUtf8(WithoutPasswordEcho(outcome.reason, fields)));
  }
};

// Called once with the run's record as soon as the transfer has its result:
// the result is printed then, and the exit follows at once (a finished
// get's linger goes on without the program, see HandOffLingers).
using FinishHandler = std::function<void(RunRecord&)>;

// Resolves, runs the transfer to its end (or to a stop signal) and draws the
// progress line meanwhile.
void Transfer(const Options& o, RunContext& context, tftp::TransferRequest request, tftp::FileSink* sink,
              tftp::FileSource* source, const FinishHandler& finish) {
  RunRecord record;
  const Clock::time_point start = Clock::now();
  SocketAddress server{};
  try {
    server = tftp::ResolveServer(o.host, o.port, FamilyOf(o));
  } catch (const ESocketError& e) {
    record.outcome.state = tftp::TransferState::Failed;
    record.outcome.reason = "cannot resolve " + o.host + " port " + o.port + ": " + e.Message();
    finish(record);
    return;
  }
  record.server = tftp::EndpointText(server);
  tftp::ClientTransfer transfer(std::move(request), server, sink, source);
  tftp::TransferDriver driver;
  driver.HandOffLingers();  // the exit follows the result at once
  driver.Add(transfer);
  const bool showProgress =
      o.progress == ProgressMode::Always || (o.progress == ProgressMode::Auto && context.errIsTerminal);
  ProgressMeter meter(context.err, showProgress, start);
  bool stopped = false, finished = false;
  auto report = [&] {
    if (std::exchange(finished, true)) return;
    meter.Clear();
    record.outcome = transfer.Outcome();
    // A stop that came while a pipe or FIFO was waited on ended the
    // transfer through that wait, before the loop saw the request.
    record.interrupted =
        stopped || (StopRequested() && record.outcome.state != tftp::TransferState::Succeeded);
    record.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    finish(record);
    // The result is final and printed: a stop during the linger only ends
    // the linger sooner, even a second one, and the exit status stays.
    SetStopPolling(StopPolling::EverySignal);
  };
  driver.OnFinished([&](tftp::TransferDriver::TransferId, const tftp::ClientTransfer&) { report(); });
  SetStopPolling(StopPolling::FirstSignal);
  const bool completed = driver.Run(
      [&] {
        if (!finished) meter.Update(transfer.Outcome().bytes, transfer.ExpectedSize(), Clock::now());
        stopped = StopRequested();
        return stopped;
      },
      "transfer interrupted by the user");
  SetStopPolling(StopPolling::None);
  // The driver reports every transfer it ends, a stopped one too; this only
  // guards against a run that ended without saying so.
  stopped = stopped && !completed;
  report();
}

// afterStop: what an interruption leaves behind, as far as we know it.
void LogFailure(WorkLog& log, const char* failureLine, const RunRecord& record, const NameFields& fields,
                std::ostream& err, const std::string& afterStop) {
  log.Always(failureLine);
  // The window's line reads 0 and an empty text when no ERROR came.
  const int code = record.outcome.peerErrorCode < 0 ? 0 : record.outcome.peerErrorCode;
  log.Always(ErrorCodeLine(code, Cp932ToUtf8(WithoutPasswordEcho(record.outcome.peerErrorText, fields))));
  std::string why = record.Reason(fields);
  if (record.interrupted && record.localFailure.empty()) {
    std::string signal = StopSignalName();
    why = "interrupted" + (signal.empty() ? std::string() : " by " + signal) + ": transfer abandoned, " +
          afterStop;
  }
  if (!why.empty()) err << "tarnwick-cli: " << why << '\n' << std::flush;
}

void WriteJson(const Options& o, RunContext& context, const RunRecord& record, const NameFields& fields,
               const std::string& shownName, const std::string& localShown) {
  if (!o.json) return;
  JsonReport r;
  const tftp::TransferOutcome& out = record.outcome;
  r.command = o.command == Command::Get ? "get" : "put";
  r.result = record.Done()          ? "done"
             : record.LocalFailed() ? "local-error"
             : record.interrupted   ? "interrupted"
                                    : "failed";
  r.remote = shownName;
  r.local = localShown;
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
  r.errorText = Cp932ToUtf8(WithoutPasswordEcho(out.peerErrorText, fields));
  if (!record.Done()) r.reason = record.Reason(fields);
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
  // Before the transfer: an unwritable target costs no traffic.
  DownloadFile target(ResolveGetTarget(o.local, o.remote));
  GuardTemporaryFile(target.TemporaryPath());
  target.StopWaitingWhen(&StopRequested);

  log.Line(worklog::kReceiveHeader);
  LogConnection(log, o);
  log.Line(worklog::kReceiving);
  log.Line(worklog::kReceiveRemoteName + shown);
  int status = kExitTransferFailed;
  Transfer(o, context, BuildRequest(o, wire), &target, nullptr, [&](RunRecord& record) {
    if (record.outcome.state == tftp::TransferState::Succeeded) {
      try {
        target.Commit();  // a stop signal meanwhile still removes the temporary file
      } catch (const ELocalFileError& e) {
        // A FIFO nobody reads, let go by a stop request.
        if (StopRequested() && target.Target().direct)
          record.interrupted = true;
        else
          record.localFailure = e.Message();
      }
    } else if (target.Failed() && !record.interrupted) {
      // The sink knows where the data stopped reaching the file.
      record.localFailure = "cannot write " + LocalNameShown(target.Target()) + ": " + target.WriteFailure();
    }
    GuardTemporaryFile("");
    if (record.Done()) {
      log.Line(worklog::kReceiveLocalName + LocalNameShown(target.Target()));
      log.Line(worklog::kReceiveDone);
    } else {
      target.Discard();
      // Written in place, what arrived is there already; else our temporary
      // file is gone with it.
      LogFailure(log, worklog::kReceiveFailed, record, fields, context.err,
                 target.Target().direct ? "what arrived was written to " + LocalNameShown(target.Target())
                                        : "no partial file left");
    }
    LogEnd(log);
    WriteJson(o, context, record, fields, shown, LocalNameShown(target.Target()));
    status = record.ExitCode();
  });
  return status;
}

// The put's source: a regular file is sent at the size it has now (and
// abandoned if it changes); anything else is a stream read to its end, and
// so is a file whose size says nothing (0 bytes, procfs, sysfs): sent at its
// stated size, it would go out empty or cut off.
std::unique_ptr<tftp::FileSource> SourceFor(PutSource opened, const std::string& local) {
  if (opened.facts.regular && opened.facts.sizeStated && opened.facts.size > 0 && local != "-")
    return std::make_unique<UploadFile>(std::move(opened.file), local);
  opened.file.StopWaitingWhen(&StopRequested);  // a pipe may wait for ever
  // Pipes, FIFOs, standard input and such files are read to their end,
  // holding at most one window (of at most TransferRequest::streamHold) for
  // retransmission.
  return std::make_unique<UploadStream>(std::move(opened.file));
}

int RunPut(const Options& o, RunContext& context, WorkLog& log) {
  NameFields fields{o.remote, o.password, o.delimiter, true};
  const std::string wire = WireName(TransferDirection::Send, fields, o.rawName);
  const std::string shown = ShownName(TransferDirection::Send, fields);
  // Before the transfer: an unreadable source costs no traffic.
  std::unique_ptr<tftp::FileSource> source = SourceFor(OpenPutSource(o.local), o.local);

  log.Line(worklog::kSendHeader);
  LogConnection(log, o);
  log.Line(worklog::kSending);
  log.Line(worklog::kSendLocalName + LocalNameShown(o.local));
  log.Line(worklog::kSendRemoteName + shown);
  tftp::TransferRequest request = BuildRequest(o, wire);
  if (!source->SizeKnown() && request.windowSize && tftp::StreamWindow(request) < *request.windowSize &&
      !o.quiet) {
    context.err << "tarnwick-cli: windowsize " << tftp::StreamWindow(request) << " asked for instead of "
                << *request.windowSize << ": a stream keeps at most " << (request.streamHold >> 20)
                << " MiB for sending again\n";
  }
  int status = kExitTransferFailed;
  Transfer(o, context, std::move(request), nullptr, source.get(), [&](RunRecord& record) {
    if (record.Done())
      log.Line(worklog::kSendDone);
    else
      // We told the device, but what it does with the part it received
      // is its own affair: it may keep it.
      LogFailure(log, worklog::kSendFailed, record, fields, context.err,
                 "the device may keep what it received");
    LogEnd(log);
    WriteJson(o, context, record, fields, shown, LocalNameShown(o.local));
    status = record.ExitCode();
  });
  return status;
}

}  // namespace

int RunStreamingTransfer(const Options& options, RunContext& context) {
  WorkLog log(context.err, options.quiet);
  return options.command == Command::Get ? RunGet(options, context, log) : RunPut(options, context, log);
}

}  // namespace tarnwick::cli
