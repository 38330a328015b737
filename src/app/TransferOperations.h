// The receive and send operations of the main window, step by step, against
// small interfaces: the engine, the file pickers, the confirmation and the
// work log. The window wires the real ones in; tests use fakes, so every
// path of both operations runs without a window or a network.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tarnwick {

// What an operation needs from the TFTP engine. Texts are UTF-8 except the
// remote name, which the operation hands over as the request's CP932 bytes,
// and the device's error text, which comes back as the device sent it.
class ITransferEngine {
 public:
  virtual ~ITransferEngine() = default;
  virtual void SetServerHost(const std::string& host) = 0;
  virtual std::string ServerHost() const = 0;
  virtual void SetServerPort(const std::string& port) = 0;
  virtual std::string ServerPort() const = 0;
  // Block until the transfer has ended; true on success.
  virtual bool GetFile(const std::string& wireName) = 0;
  virtual bool PutFile(const std::string& wireName) = 0;
  // The received content to a file (created, or replaced only once the
  // whole content is written) / a whole file into the content. Both raise
  // the file layer's errors.
  virtual void SaveContentToFile(const std::string& path) = 0;
  virtual void LoadContentFromFile(const std::string& path) = 0;
  // After a false result: the device's error code and text (0 and empty
  // when no error packet came). The text is the device's CP932 bytes,
  // undecoded: a password it echoes can only be taken out reliably before
  // decoding.
  virtual std::int32_t PeerErrorCode() const = 0;
  virtual std::string PeerErrorBytes() const = 0;
};

using EngineFactory = std::function<std::unique_ptr<ITransferEngine>()>;

class IWorkLog {
 public:
  virtual ~IWorkLog() = default;
  virtual void AddLine(const std::string& line) = 0;
};

class ISaveFilePicker {
 public:
  virtual ~ISaveFilePicker() = default;
  // Proposes `proposedName`; true with the chosen full path, false when
  // cancelled.
  virtual bool PickSaveFile(const std::string& proposedName, std::string& chosenPath) = 0;
};

class IOpenFilePicker {
 public:
  virtual ~IOpenFilePicker() = default;
  virtual bool PickOpenFile(std::string& chosenPath) = 0;
};

class ISendConfirmation {
 public:
  virtual ~ISendConfirmation() = default;
  // Shows the warning; true only when the user chose to go on.
  virtual bool ConfirmSend() = 0;
};

// The window's fields as one operation reads them (UTF-8, as typed).
struct TransferFields {
  std::string host;
  std::string port;
  std::string fileName;
  std::string password;
  std::string delimiter;
  bool maskPassword = true;  // "パスワードをログに表示しない" ticked
  bool skipConfirm = false;  // "ファイル送信前に確認しない" ticked
};

// The box is captioned "do not confirm before sending": ticked skips the
// warning, clear (the initial state) shows it.
constexpr bool ConfirmationDue(bool skipConfirmTicked) noexcept { return !skipConfirmTicked; }

// Where the window keeps its reference to the engine of the running
// operation; set while the engine exists, cleared when it is released,
// also when an error ends the operation early.
using ActiveEngineSlot = ITransferEngine*;

void RunReceive(const TransferFields& fields, const EngineFactory& makeEngine, ISaveFilePicker& saveDialog,
                IWorkLog& log, ActiveEngineSlot* active = nullptr);

void RunSend(const TransferFields& fields, const EngineFactory& makeEngine, ISendConfirmation& confirmation,
             IOpenFilePicker& openDialog, IWorkLog& log, ActiveEngineSlot* active = nullptr);

}  // namespace tarnwick
