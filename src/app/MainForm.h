// The main window: connection settings on the left, the work log on the
// right, four buttons. Receive and send run whole inside their click
// handlers through the portable operations.
#pragma once

#include "app/TransferOperations.h"
#include "ui/FileDialog.h"
#include "ui/Form.h"
#include "ui/StdCtrls.h"

namespace tarnwick {

struct MainWindowDecorations;

class TForm1 : public TForm {
 public:
  explicit TForm1(TComponent* owner);
  ~TForm1() override;

  TPanel* Panel1;
  TGroupBox* GroupBox1;
  TLabel* Label1;
  TLabel* Label2;
  TLabel* Label3;
  TLabel* Label4;
  TLabel* Label5;
  TLabel* Label6;
  TEdit* TargetSystemEdit;
  TEdit* TargetPortEdit;
  TEdit* TargetFileEdit;
  TEdit* Password;
  TEdit* Delimiter;
  TCheckBox* ckbMaskPassword;
  TCheckBox* ckbShowConfirm;
  TButton* BGetFile;
  TButton* BPutFile;
  TButton* BAbout;
  TButton* BExit;
  TPanel* Panel2;
  TGroupBox* GroupBox2;
  TMemo* Log;
  TStatusBar* StatusBar1;
  TOpenDialog* OpenDialog;
  TSaveDialog* SaveDialog;

  void BGetFileClick(TObject* sender);
  void BPutFileClick(TObject* sender);
  void BAboutClick(TObject* sender);
  void BExitClick(TObject* sender);

  // The fields as the operations read them.
  TransferFields ReadFields() const;
  // Tests replace the engine (and so the network) with their own.
  void SetEngineFactory(EngineFactory factory) { makeEngine_ = std::move(factory); }
  // The engine of the running operation, null between operations.
  ITransferEngine* RunningEngine() const noexcept { return engine_; }

 private:
  class Bridge;
  ITransferEngine* engine_ = nullptr;
  EngineFactory makeEngine_;
};

}  // namespace tarnwick
