#include "cli/CliTransfer.h"

#include <iostream>
#include <memory>
#include <optional>

#include "app/TransferNames.h"
#include "app/WorkLogText.h"
#include "base/Exception.h"
#include "base/Stream.h"
#include "base/TextCodec.h"
#include "cli/LocalFile.h"
#include "fleet/Backup.h"
#include "net/SocketApi.h"
#include "tftp/TFTPSend.h"

namespace tarnwick::cli {

namespace {

// Work-log lines go out unless --quiet; failure lines always do.
class WorkLog {
 public:
  WorkLog(std::ostream& out, bool quiet) : out_(out), quiet_(quiet) {}
  void Line(const std::string& text) {
    if (!quiet_) Always(text);
  }
  void Always(const std::string& text) { out_ << text << '\n' << std::flush; }

 private:
  std::ostream& out_;
  bool quiet_;
};

class UsageError : public Exception {
 public:
  explicit UsageError(std::string message) : Exception("EUsageError", std::move(message)) {}
};

// The name as it goes on the wire: CP932 unless --raw-name.
std::string WireName(const std::string& name, bool raw) {
  if (raw) return name;
  std::optional<std::string> cp932 = Utf8ToCp932(name);
  if (!cp932) throw UsageError("remote name \"" + name + "\" cannot be written in CP932 (see --raw-name)");
  return *cp932;
}

std::unique_ptr<TTFTPSend> CreateEngine(const Options& o, WorkLog& log) {
  auto engine = std::make_unique<TTFTPSend>();
  log.Line(worklog::kEngineCreated);
  engine->ServerHost = o.host;
  log.Line(worklog::kHostLine + engine->ServerHost);
  engine->ServerPort = o.port;
  log.Line(worklog::kPortLine + engine->ServerPort);
  engine->ReplyTimeout = o.timeoutMs;
  return engine;
}

void LogFailure(WorkLog& log, const char* failureLine, const TTFTPSend& engine) {
  log.Always(failureLine);
  log.Always(ErrorCodeLine(engine.PeerErrorCode, Cp932ToUtf8(engine.PeerErrorText)));
}

void ReleaseEngine(std::unique_ptr<TTFTPSend>& engine, WorkLog& log) {
  engine.reset();
  log.Line(worklog::kEngineReleased);
  log.Line("");
}

int RunGet(const Options& o, WorkLog& log) {
  NameFields fields{o.remote, o.password, o.delimiter, true};
  const std::string wire = WireName(RemoteName(TransferDirection::Receive, fields), o.rawName);
  PendingFile target(o.local);  // before the transfer: an unwritable target costs no traffic

  log.Line(worklog::kReceiveHeader);
  auto engine = CreateEngine(o, log);
  log.Line(worklog::kReceiving);
  log.Line(worklog::kReceiveRemoteName + ShownName(TransferDirection::Receive, fields));
  bool ok = engine->GetFile(wire);
  if (ok) {
    target.Commit(engine->Content);
    log.Line(worklog::kReceiveLocalName + AbsolutePath(o.local));
    log.Line(worklog::kReceiveDone);
  } else {
    LogFailure(log, worklog::kReceiveFailed, *engine);
  }
  ReleaseEngine(engine, log);
  return ok ? kExitDone : kExitTransferFailed;
}

int RunPut(const Options& o, WorkLog& log) {
  NameFields fields{o.remote, o.password, o.delimiter, true};
  const std::string wire = WireName(RemoteName(TransferDirection::Send, fields), o.rawName);

  log.Line(worklog::kSendHeader);
  auto engine = CreateEngine(o, log);
  log.Line(worklog::kSending);
  log.Line(worklog::kSendLocalName + AbsolutePath(o.local));
  log.Line(worklog::kSendRemoteName + ShownName(TransferDirection::Send, fields));
  engine->Content.LoadFromFile(o.local);
  bool ok = engine->PutFile(wire);
  if (ok)
    log.Line(worklog::kSendDone);
  else
    LogFailure(log, worklog::kSendFailed, *engine);
  ReleaseEngine(engine, log);
  return ok ? kExitDone : kExitTransferFailed;
}

}  // namespace

int RunTransfer(const Options& options, std::ostream& logStream) {
  WorkLog log(logStream, options.quiet);
  return options.command == Command::Get ? RunGet(options, log) : RunPut(options, log);
}

int RunMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (!args.empty() && args[0] == "backup") return fleet::RunBackup({args.begin() + 1, args.end()}, out, err);
  ParseResult parsed = ParseArguments(args);
  if (!parsed.ok) {
    err << "tarnwick-cli: " << parsed.error << '\n' << UsageText();
    return kExitUsageOrLocalFile;
  }
  if (parsed.options.help) {
    out << UsageText();
    return kExitDone;
  }
  try {
    return RunTransfer(parsed.options, err);
  } catch (const EOutOfMemory& e) {
    // The download did not fit in memory: a failed transfer, not a usage
    // or local-file problem.
    err << "tarnwick-cli: " << e.Message() << '\n' << std::flush;
    return kExitTransferFailed;
  } catch (const Exception& e) {
    // Local files and names; the transfer itself reports through the log.
    err << "tarnwick-cli: " << e.Message() << '\n' << std::flush;
    return kExitUsageOrLocalFile;
  }
}

int RunProgram(const std::vector<std::string>& args) {
  try {
    SocketLayerScope sockets;
    return RunMain(args, std::cout, std::cerr);
  } catch (const Exception& e) {
    std::cerr << "tarnwick-cli: " << e.Message() << '\n';
  } catch (const std::exception& e) {
    std::cerr << "tarnwick-cli: " << e.what() << '\n';
  }
  return kExitTransferFailed;
}

}  // namespace tarnwick::cli
