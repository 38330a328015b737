#include "app/TransferOperations.h"

#include "app/TransferNames.h"
#include "app/WorkLogText.h"
#include "base/TextCodec.h"

namespace tarnwick {
namespace {

// Owns the engine of one operation and publishes it in the window's slot.
// An error that leaves the operation early releases the engine at once.
class OperationEngine {
 public:
  OperationEngine(const EngineFactory& make, ActiveEngineSlot* slot) : engine_(make()), slot_(slot) {
    if (slot_ != nullptr) *slot_ = engine_.get();
  }
  OperationEngine(const OperationEngine&) = delete;
  OperationEngine& operator=(const OperationEngine&) = delete;
  ~OperationEngine() { Release(); }
  ITransferEngine* operator->() const noexcept { return engine_.get(); }
  void Release() noexcept {
    if (slot_ != nullptr) *slot_ = nullptr;
    engine_.reset();
  }

 private:
  std::unique_ptr<ITransferEngine> engine_;
  ActiveEngineSlot* slot_;
};

NameFields NamesOf(const TransferFields& f) {
  NameFields n;
  n.fileName = f.fileName;
  n.password = f.password;
  n.delimiter = f.delimiter;
  n.maskPassword = f.maskPassword;
  return n;
}

void Connect(OperationEngine& engine, const TransferFields& fields, IWorkLog& log) {
  log.AddLine(worklog::kEngineCreated);
  engine->SetServerHost(fields.host);
  log.AddLine(worklog::kHostLine + engine->ServerHost());
  engine->SetServerPort(fields.port);
  log.AddLine(worklog::kPortLine + engine->ServerPort());
}

// The device's error as one log line. Devices echo the requested name,
// password included; while the user keeps the password out of the log, it
// is taken out of the device's raw bytes first, since a password whose
// characters decode to other code points would slip past a scrub of the
// decoded text. With the box clear the text is logged as the device sent it
// (undecodable bytes show as replacement marks either way).
std::string DeviceErrorLine(const OperationEngine& engine, const NameFields& names) {
  std::string bytes = engine->PeerErrorBytes();
  if (names.maskPassword) bytes = WithoutPasswordEcho(bytes, names);
  return ErrorCodeLine(engine->PeerErrorCode(), Cp932ToUtf8(bytes));
}

void Close(OperationEngine& engine, IWorkLog& log) {
  engine.Release();
  log.AddLine(worklog::kEngineReleased);
  log.AddLine("");
}

}  // namespace

void RunReceive(const TransferFields& fields, const EngineFactory& makeEngine, ISaveFilePicker& saveDialog,
                IWorkLog& log, ActiveEngineSlot* active) {
  OperationEngine engine(makeEngine, active);
  log.AddLine(worklog::kReceiveHeader);
  Connect(engine, fields, log);

  const NameFields names = NamesOf(fields);
  const std::string shown = ShownName(TransferDirection::Receive, names);
  log.AddLine(worklog::kReceiving);
  log.AddLine(worklog::kReceiveRemoteName + shown);

  if (engine->GetFile(RemoteNameCp932(TransferDirection::Receive, names))) {
    // The dialog proposes the file name as typed, never with the password.
    std::string path;
    if (saveDialog.PickSaveFile(fields.fileName, path)) {
      engine->SaveContentToFile(path);
      log.AddLine(worklog::kReceiveLocalName + path);
      log.AddLine(worklog::kReceiveDone);
    } else {
      log.AddLine(worklog::kReceiveCancelled);
    }
  } else {
    log.AddLine(worklog::kReceiveFailed);
    log.AddLine(DeviceErrorLine(engine, names));
  }
  Close(engine, log);
}

void RunSend(const TransferFields& fields, const EngineFactory& makeEngine, ISendConfirmation& confirmation,
             IOpenFilePicker& openDialog, IWorkLog& log, ActiveEngineSlot* active) {
  log.AddLine(worklog::kSendHeader);
  if (ConfirmationDue(fields.skipConfirm) && !confirmation.ConfirmSend()) {
    // Declined: the block is these two lines, without an empty line.
    log.AddLine(worklog::kSendDeclined);
    return;
  }
  std::string path;
  if (!openDialog.PickOpenFile(path)) {
    log.AddLine(worklog::kOpenCancelled);
    log.AddLine("");
    return;
  }

  OperationEngine engine(makeEngine, active);
  Connect(engine, fields, log);

  const NameFields names = NamesOf(fields);
  const std::string shown = ShownName(TransferDirection::Send, names);
  log.AddLine(worklog::kSending);
  log.AddLine(worklog::kSendLocalName + path);
  log.AddLine(worklog::kSendRemoteName + shown);

  engine->LoadContentFromFile(path);
  if (engine->PutFile(RemoteNameCp932(TransferDirection::Send, names))) {
    log.AddLine(worklog::kSendDone);
  } else {
    log.AddLine(worklog::kSendFailed);
    log.AddLine(DeviceErrorLine(engine, names));
  }
  Close(engine, log);
}

}  // namespace tarnwick
