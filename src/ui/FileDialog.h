// The common open and save dialogs. Each object lives as long as its form,
// so it remembers the name and folder chosen last and opens there again.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commdlg.h>

#include <string>

#include "base/Exception.h"
#include "ui/Component.h"

namespace tarnwick {

// A file dialog that failed for a reason other than the user's cancel. Not a
// cancel: what the user was about to save or open would otherwise be
// dropped without a word.
class EFileDialogError : public Exception {
 public:
  explicit EFileDialogError(DWORD code);
  DWORD ErrorCode() const noexcept { return code_; }

 private:
  DWORD code_;
};

class TFileDialog : public TComponent {
 public:
  using TComponent::TComponent;

  std::wstring title;
  std::wstring fileName;    // proposed before, chosen full path after Execute
  std::wstring initialDir;  // the folder of the last choice
  std::wstring filter;      // "Text|*.txt|..." style, empty for none
  int filterIndex = 0;
  DWORD options = 0;  // OFN_* flags, on top of the explorer style

  // Shows the dialog over `owner`; true when the user chose a file, false
  // when they cancelled. Raises EFileDialogError when the dialog fails.
  bool Execute(HWND owner);

  // The proposed name of the last call, as put into the dialog (tests).
  const std::wstring& LastProposed() const noexcept { return lastProposed_; }

 protected:
  virtual BOOL Call(OPENFILENAMEW& ofn) = 0;
  // The reason the last Call returned FALSE (0 = the user cancelled).
  virtual DWORD ExtendedError() const;

 private:
  std::wstring lastProposed_;
};

class TOpenDialog : public TFileDialog {
 public:
  using TFileDialog::TFileDialog;

 protected:
  BOOL Call(OPENFILENAMEW& ofn) override;
};

class TSaveDialog : public TFileDialog {
 public:
  using TFileDialog::TFileDialog;
  std::wstring defaultExt;

 protected:
  BOOL Call(OPENFILENAMEW& ofn) override;
};

}  // namespace tarnwick
