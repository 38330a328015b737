#include "app/MainForm.h"

#include <memory>

#include "app/AboutForm.h"
#include "app/ConfirmForm.h"
#include "app/FormDefinitions.h"
#include "app/TftpTransferEngine.h"
#include "base/TextCodec.h"
#include "ui/Application.h"

#if TARNWICK_DECOR_LINKED
#include "decor/MainWindowDecorations.h"
#endif

namespace tarnwick {

// Connects the operations to this window: its log, its two file dialogs
// and a fresh confirmation dialog for every send that asks.
class TForm1::Bridge : public IWorkLog, public ISaveFilePicker, public IOpenFilePicker, public ISendConfirmation {
 public:
  explicit Bridge(TForm1& form) : form_(form) {}

  void AddLine(const std::string& line) override { form_.Log->AppendLine(Utf8ToWide(line)); }

  bool PickSaveFile(const std::string& proposedName, std::string& chosenPath) override {
    form_.SaveDialog->fileName = Utf8ToWide(proposedName);
    if (!form_.SaveDialog->Execute(form_.Handle())) return false;
    chosenPath = WideToUtf8(form_.SaveDialog->fileName);
    return true;
  }

  bool PickOpenFile(std::string& chosenPath) override {
    if (!form_.OpenDialog->Execute(form_.Handle())) return false;
    chosenPath = WideToUtf8(form_.OpenDialog->fileName);
    return true;
  }

  bool ConfirmSend() override {
    // Destroyed as soon as it has closed; never reused.
    std::unique_ptr<T_FrmConfirm> dialog(new T_FrmConfirm(&form_));
    return dialog->ShowModal() == mrOk;
  }

 private:
  TForm1& form_;
};

TForm1::TForm1(TComponent* owner) : TForm(owner), makeEngine_(TftpEngineFactory()) {
  BeginLoading();
  Build(MainFormDefinition());
  Panel1 = Control<TPanel>("Panel1");
  GroupBox1 = Control<TGroupBox>("GroupBox1");
  Label1 = Control<TLabel>("Label1");
  Label2 = Control<TLabel>("Label2");
  Label3 = Control<TLabel>("Label3");
  Label4 = Control<TLabel>("Label4");
  Label5 = Control<TLabel>("Label5");
  Label6 = Control<TLabel>("Label6");
  TargetSystemEdit = Control<TEdit>("TargetSystemEdit");
  TargetPortEdit = Control<TEdit>("TargetPortEdit");
  TargetFileEdit = Control<TEdit>("TargetFileEdit");
  Password = Control<TEdit>("Password");
  Delimiter = Control<TEdit>("Delimiter");
  ckbMaskPassword = Control<TCheckBox>("ckbMaskPassword");
  ckbShowConfirm = Control<TCheckBox>("ckbShowConfirm");
  BGetFile = Control<TButton>("BGetFile");
  BPutFile = Control<TButton>("BPutFile");
  BAbout = Control<TButton>("BAbout");
  BExit = Control<TButton>("BExit");
  Panel2 = Control<TPanel>("Panel2");
  GroupBox2 = Control<TGroupBox>("GroupBox2");
  Log = Control<TMemo>("Log");
  StatusBar1 = Control<TStatusBar>("StatusBar1");

  OpenDialog = new TOpenDialog(this);
  OpenDialog->SetName("OpenDialog");
  OpenDialog->title = L"Select File to put ...";
  OpenDialog->filterIndex = 0;
  // Not OFN_FILEMUSTEXIST: a name that does not exist is accepted and fails
  // when it is loaded, with the file layer's message.
  OpenDialog->options = OFN_HIDEREADONLY | OFN_ENABLESIZING;

  SaveDialog = new TSaveDialog(this);
  SaveDialog->SetName("SaveDialog");
  SaveDialog->title = L"Save File ...";
  // Not OFN_OVERWRITEPROMPT: an existing file is replaced without asking.
  SaveDialog->options = OFN_HIDEREADONLY | OFN_ENABLESIZING;

  BGetFile->OnClick = [this](TObject* sender) { BGetFileClick(sender); };
  BPutFile->OnClick = [this](TObject* sender) { BPutFileClick(sender); };
  BAbout->OnClick = [this](TObject* sender) { BAboutClick(sender); };
  BExit->OnClick = [this](TObject* sender) { BExitClick(sender); };

#if TARNWICK_DECOR_LINKED
  AttachMainWindowDecorations(*this);
#endif
  EndLoading();
}

TForm1::~TForm1() { BeginDestroy(); }

TransferFields TForm1::ReadFields() const {
  TransferFields f;
  f.host = WideToUtf8(TargetSystemEdit->Text());
  f.port = WideToUtf8(TargetPortEdit->Text());
  f.fileName = WideToUtf8(TargetFileEdit->Text());
  f.password = WideToUtf8(Password->Text());
  f.delimiter = WideToUtf8(Delimiter->Text());
  f.maskPassword = ckbMaskPassword->Checked();
  f.skipConfirm = ckbShowConfirm->Checked();
  return f;
}

void TForm1::BGetFileClick(TObject*) {
  Bridge bridge(*this);
  RunReceive(ReadFields(), makeEngine_, bridge, bridge, &engine_);
}

void TForm1::BPutFileClick(TObject*) {
  Bridge bridge(*this);
  RunSend(ReadFields(), makeEngine_, bridge, bridge, bridge, &engine_);
}

void TForm1::BAboutClick(TObject*) {
  About = new TAbout(this);
  About->ShowModal();
  // Released once the messages already queued for it are handled.
  Application().ReleaseForm(About);
}

void TForm1::BExitClick(TObject*) { Close(); }

}  // namespace tarnwick
