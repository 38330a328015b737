#include "cli/CliTransfer.h"

#include <iostream>
#include <memory>

#include "app/TransferNames.h"
#include "app/WorkLogText.h"
#include "base/Exception.h"
#include "base/Stream.h"
#include "base/TextCodec.h"
#include "cli/LocalFile.h"
#include "cli/StreamingTransfer.h"
#include "cli/TransferText.h"
#include "cliutil/Console.h"
#include "cliutil/PasswordScrub.h"
#include "fleet/Backup.h"
#include "net/SocketApi.h"
#include "tftp/TFTPSend.h"

namespace tarnwick::cli {

namespace {

std::unique_ptr<TTFTPSend> CreateEngine(const Options& o, WorkLog& log) {
  auto engine = std::make_unique<TTFTPSend>();
  log.Line(worklog::kEngineCreated);
  engine->ServerHost = o.host;
  log.Line(worklog::kHostLine + engine->ServerHost);
  engine->ServerPort = o.port;
  log.Line(worklog::kPortLine + engine->ServerPort);
  engine->ReplyTimeout = o.EffectiveTimeoutMs();
  return engine;
}

void LogFailure(WorkLog& log, const char* failureLine, const TTFTPSend& engine, const NameFields& fields) {
  log.Always(failureLine);
  log.Always(ErrorCodeLine(engine.PeerErrorCode, WithoutPassword(Cp932ToUtf8(engine.PeerErrorText), fields)));
}

void ReleaseEngine(std::unique_ptr<TTFTPSend>& engine, WorkLog& log) {
  engine.reset();
  log.Line(worklog::kEngineReleased);
  log.Line("");
}

int RunGet(const Options& o, WorkLog& log) {
  NameFields fields{o.remote, o.password, o.delimiter, true};
  const std::string wire = WireName(TransferDirection::Receive, fields, o.rawName);
  PendingFile target(o.local);  // before the transfer: an unwritable target costs no traffic
  // This engine blocks until the end, so a stop signal ends the process at
  // once; the guard has the temporary file removed first.
  GuardTemporaryFile(target.TemporaryPath());

  log.Line(worklog::kReceiveHeader);
  auto engine = CreateEngine(o, log);
  log.Line(worklog::kReceiving);
  log.Line(worklog::kReceiveRemoteName + ShownName(TransferDirection::Receive, fields));
  bool ok = engine->GetFile(wire);
  if (ok) {
    GuardTemporaryFile("");
    target.Commit(engine->Content);
    log.Line(worklog::kReceiveLocalName + AbsolutePath(o.local));
    log.Line(worklog::kReceiveDone);
  } else {
    LogFailure(log, worklog::kReceiveFailed, *engine, fields);
  }
  ReleaseEngine(engine, log);
  return ok ? kExitDone : kExitTransferFailed;
}

int RunPut(const Options& o, WorkLog& log) {
  NameFields fields{o.remote, o.password, o.delimiter, true};
  const std::string wire = WireName(TransferDirection::Send, fields, o.rawName);

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
    LogFailure(log, worklog::kSendFailed, *engine, fields);
  ReleaseEngine(engine, log);
  return ok ? kExitDone : kExitTransferFailed;
}

}  // namespace

int RunTransfer(const Options& options, std::ostream& logStream) {
  WorkLog log(logStream, options.quiet);
  return options.command == Command::Get ? RunGet(options, log) : RunPut(options, log);
}

int RunMain(const std::vector<std::string>& args, RunContext& context) {
  if (!args.empty() && args[0] == "backup")
    return fleet::RunBackup({args.begin() + 1, args.end()}, context.out, context.err);
  ParseResult parsed = ParseArguments(args, context.environment);
  if (!parsed.ok) {
    context.err << "tarnwick-cli: " << parsed.error << '\n' << UsageText();
    return kExitUsageOrLocalFile;
  }
  Options& options = parsed.options;
  if (options.help || options.version) {
    context.out << (options.help ? UsageText() : VersionText());
    return kExitDone;
  }
  try {
    ResolvePassword(options);
    if (options.engine == EngineChoice::Window) return RunTransfer(options, context.err);
    return RunStreamingTransfer(options, context);
  } catch (const EOutOfMemory& e) {
    // The download did not fit in memory: a failed transfer, not a usage
    // or local-file problem.
    context.err << "tarnwick-cli: " << e.Message() << '\n' << std::flush;
    return kExitTransferFailed;
  } catch (const Exception& e) {
    // Local files and names; the transfer itself reports through the log.
    context.err << "tarnwick-cli: " << e.Message() << '\n' << std::flush;
    return kExitUsageOrLocalFile;
  }
}

int RunMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  RunContext context{out, err, false, {}};
  return RunMain(args, context);
}

int RunProgram(const std::vector<std::string>& args) {
  try {
    InstallStopHandlers();
    SocketLayerScope sockets;
    RunContext context{
        std::cout, std::cerr, StandardErrorIsTerminal(), {EnvironmentValue("TARNWICK_PASSWORD")}};
    return RunMain(args, context);
  } catch (const Exception& e) {
    std::cerr << "tarnwick-cli: " << e.Message() << '\n';
  } catch (const std::exception& e) {
    std::cerr << "tarnwick-cli: " << e.what() << '\n';
  }
  return kExitTransferFailed;
}

}  // namespace tarnwick::cli
