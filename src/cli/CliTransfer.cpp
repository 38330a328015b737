#include "cli/CliTransfer.h"

#include <iostream>
#include <memory>
#include <string_view>

#include "app/TransferNames.h"
#include "app/WorkLogText.h"
#include "base/Exception.h"
#include "base/Stream.h"
#include "base/TextCodec.h"
#include "cli/DownloadFile.h"
#include "cli/JsonReport.h"
#include "cli/StreamingTransfer.h"
#include "cli/TransferText.h"
#include "cliutil/Console.h"
#include "cliutil/LocalFiles.h"
#include "cliutil/PasswordScrub.h"
#include "fleet/Backup.h"
#include "archive/ProcessId.h"
#include "net/SocketApi.h"
#include "serve/ServeCommand.h"
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
  // Scrubbed as raw bytes: a password that does not survive decoding is
  // still caught.
  log.Always(
      ErrorCodeLine(engine.PeerErrorCode, Cp932ToUtf8(WithoutPasswordEcho(engine.PeerErrorText, fields))));
}

// This engine sends from memory: the whole source, read to its end (a pipe
// or standard input alike).
void LoadSource(const std::string& local, TMemoryStream& content) {
  PutSource source = OpenPutSource(local);
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    long long n = source.file.Read(buffer.data(), buffer.size());
    if (n < 0) throw ELocalFileError("cannot read " + local + ": " + FileError::Last().text);
    if (n == 0) break;
    if (!FitsInStream(content.Position(), n, content.SizeLimit())) throw EOutOfMemory();
    content.WriteBuffer(buffer.data(), static_cast<std::int32_t>(n));
  }
  content.SetPosition(0);
}

void ReleaseEngine(std::unique_ptr<TTFTPSend>& engine, WorkLog& log) {
  engine.reset();
  log.Line(worklog::kEngineReleased);
  log.Line("");
}

int RunGet(const Options& o, WorkLog& log) {
  NameFields fields{o.remote, o.password, o.delimiter, true};
  const std::string wire = WireName(TransferDirection::Receive, fields, o.rawName);
  // Before the transfer: an unwritable target costs no traffic.
  DownloadFile target(ResolveGetTarget(o.local, o.remote));
  // This engine blocks until the end, so a stop signal ends the process at
  // once; the guard has the temporary file removed first.
  GuardTemporaryFile(target.TemporaryPath());

  log.Line(worklog::kReceiveHeader);
  auto engine = CreateEngine(o, log);
  log.Line(worklog::kReceiving);
  log.Line(worklog::kReceiveRemoteName + ShownName(TransferDirection::Receive, fields));
  bool ok = engine->GetFile(wire);
  if (ok) {
    const std::string_view content(engine->Content.Memory(),
                                   static_cast<std::size_t>(engine->Content.Size()));
    target.Write(content);
    target.Commit();  // a failed write is reported here, with its reason
    GuardTemporaryFile("");
    log.Line(worklog::kReceiveLocalName + LocalNameShown(target.Target()));
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
  log.Line(worklog::kSendLocalName + LocalNameShown(o.local));
  log.Line(worklog::kSendRemoteName + ShownName(TransferDirection::Send, fields));
  LoadSource(o.local, engine->Content);
  bool ok = engine->PutFile(wire);
  if (ok)
    log.Line(worklog::kSendDone);
  else
    LogFailure(log, worklog::kSendFailed, *engine, fields);
  ReleaseEngine(engine, log);
  return ok ? kExitDone : kExitTransferFailed;
}

// A run that ended before or outside the transfer: the message on standard
// error and, with --json, its one object.
// The server runs until a stop signal: the first one starts its drain, a
// second ends the process at once.
int RunServeCommand(const std::vector<std::string>& args, RunContext& context) {
  const std::optional<std::string> listenPid = EnvironmentValue("LISTEN_PID");
  const std::optional<std::string> listenFds = EnvironmentValue("LISTEN_FDS");
  serve::ServeEnvironment environment;
  environment.listenPid = listenPid ? listenPid->c_str() : nullptr;
  environment.listenFds = listenFds ? listenFds->c_str() : nullptr;
  environment.ownPid = static_cast<long>(archive::CurrentProcessId());
  environment.stopRequested = [] { return StopRequested(); };
  SetStopPolling(StopPolling::FirstSignal);
  return serve::RunServe(args, environment, context.out, context.err);
}

int Refused(RunContext& context, const Options& o, const char* result, const std::string& why, int exitCode) {
  const NameFields fields{o.remote, o.password, o.delimiter, true};
  const std::string message = WithoutPassword(why, fields);
  context.err << "tarnwick-cli: " << message << '\n' << std::flush;
  if (o.json) {
    JsonReport r = ShortReport(o.command == Command::Get ? "get" : "put", result, message);
    r.remote =
        ShownName(o.command == Command::Get ? TransferDirection::Receive : TransferDirection::Send, fields);
    r.local = LocalNameShown(o.local);
    context.out << FormatJsonReport(r) << std::flush;
  }
  return exitCode;
}

}  // namespace

int RunTransfer(const Options& options, std::ostream& logStream) {
  WorkLog log(logStream, options.quiet);
  return options.command == Command::Get ? RunGet(options, log) : RunPut(options, log);
}

int RunMain(const std::vector<std::string>& args, RunContext& context) {
  if (!args.empty() && args[0] == "backup")
    return fleet::RunBackup({args.begin() + 1, args.end()}, context.out, context.err);
  if (!args.empty() && args[0] == "serve") return RunServeCommand({args.begin() + 1, args.end()}, context);
  ParseResult parsed = ParseArguments(args, context.environment);
  if (!parsed.ok) {
    context.err << "tarnwick-cli: " << parsed.error << '\n' << UsageText();
    if (parsed.json)
      context.out << FormatJsonReport(ShortReport(parsed.command, "usage", parsed.error)) << std::flush;
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
  } catch (const UsageError& e) {
    return Refused(context, options, "usage", e.Message(), kExitUsageOrLocalFile);
  } catch (const ELocalFileError& e) {
    return Refused(context, options, "local-error", e.Message(), kExitUsageOrLocalFile);
  } catch (const EStreamError& e) {
    return Refused(context, options, "local-error", e.Message(), kExitUsageOrLocalFile);
  } catch (const Exception& e) {
    // The download did not fit in memory, the socket layer failed: the
    // transfer failed, no usage or local-file problem.
    return Refused(context, options, "failed", e.Message(), kExitTransferFailed);
  }
}

int RunMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  RunContext context{out, err, false, {}};
  return RunMain(args, context);
}

int RunProgram(const std::vector<std::string>& args) {
  std::string why;
  try {
    InstallStopHandlers();
    SocketLayerScope sockets;
    RunContext context{
        std::cout, std::cerr, StandardErrorIsTerminal(), {EnvironmentValue("TARNWICK_PASSWORD")}};
    return RunMain(args, context);
  } catch (const Exception& e) {
    why = e.Message();
  } catch (const std::exception& e) {
    why = e.what();
  }
  // Nothing ran (the socket layer did not start, say): a failed run, and
  // its JSON object all the same.
  std::cerr << "tarnwick-cli: " << why << '\n';
  ParseResult parsed = ParseArguments(args);
  if (parsed.json) std::cout << FormatJsonReport(ShortReport(parsed.command, "failed", why)) << std::flush;
  return kExitTransferFailed;
}

}  // namespace tarnwick::cli
