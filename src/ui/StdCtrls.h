// The controls the program's windows are made of.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/Control.h"

namespace tarnwick {

using NotifyEvent = std::function<void(TObject* sender)>;

// A plain container in the background colour, without bevel.
class TPanel : public TWinControl {
 public:
  using TWinControl::TWinControl;

 protected:
  void CreateParams(CreateParamsRec& params) override;
};

// A captioned frame that contains controls; docked children share the area
// inside the frame below the caption.
class TGroupBox : public TWinControl {
 public:
  using TWinControl::TWinControl;
  Rect AlignArea() override;

 protected:
  void CreateParams(CreateParamsRec& params) override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
};

// Static text that sizes itself to its caption and shows the parent's
// background through.
class TLabel : public TWinControl {
 public:
  using TWinControl::TWinControl;

 protected:
  void CreateParams(CreateParamsRec& params) override;
  void HandleCreated() override;
};

// Single-line edit box; with a password character every character typed is
// shown as that character.
class TEdit : public TWinControl {
 public:
  using TWinControl::TWinControl;
  wchar_t PasswordChar() const noexcept { return passwordChar_; }
  void SetPasswordChar(wchar_t c);
  void ApplyDefinition(const ControlDef& def) override;

 protected:
  void CreateParams(CreateParamsRec& params) override;
  void HandleCreated() override;

 private:
  wchar_t passwordChar_ = 0;
};

class TCheckBox : public TWinControl {
 public:
  using TWinControl::TWinControl;
  bool Checked() const;
  void SetChecked(bool checked);
  void ApplyDefinition(const ControlDef& def) override;
  NotifyEvent OnClick;

 protected:
  void CreateParams(CreateParamsRec& params) override;
  void HandleCreated() override;
  bool HandleReflected(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  bool checked_ = false;
};

// Push button drawn by us: a silver face that turns orange while the mouse
// is over it. A modal result, when set, is handed to the form on click.
class TButton : public TWinControl {
 public:
  using TWinControl::TWinControl;
  NotifyEvent OnClick;
  int ModalResultValue() const noexcept { return modalResult_; }
  void SetModalResultValue(int r) noexcept { modalResult_ = r; }
  bool Hot() const noexcept { return hot_; }
  // Clicks the button as a mouse click would (focus, then BN_CLICKED).
  void Click();
  void ApplyDefinition(const ControlDef& def) override;

  static constexpr COLORREF kFace = RGB(192, 192, 192);
  static constexpr COLORREF kHotFace = RGB(255, 128, 64);

 protected:
  void CreateParams(CreateParamsRec& params) override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool HandleReflected(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void Draw(const DRAWITEMSTRUCT& dis);
  void SetHot(bool hot);
  bool hot_ = false;
  int modalResult_ = 0;
};

// Multi-line text. Lines are separated by CR LF; AppendLine adds one line
// at the end and nothing else, which is how the work log grows.
class TMemo : public TWinControl {
 public:
  using TWinControl::TWinControl;
  bool ReadOnly() const noexcept { return readOnly_; }
  void SetReadOnly(bool r);
  ScrollBars GetScrollBars() const noexcept { return scrollBars_; }
  void SetScrollBars(ScrollBars s) noexcept { scrollBars_ = s; }
  void SetLines(const std::vector<std::wstring>& lines);
  std::vector<std::wstring> Lines() const;
  void AppendLine(const std::wstring& line);
  void ApplyDefinition(const ControlDef& def) override;

 protected:
  void CreateParams(CreateParamsRec& params) override;
  void HandleCreated() override;
  HBRUSH CtlColor(HDC dc, UINT msg) override;
  bool HandleReflected(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  bool EndsWithOpenLine();
  bool readOnly_ = false;
  ScrollBars scrollBars_ = ScrollBars::None;
  // Whether the text may have changed since our last append (typing,
  // SetText); only then is the end of the text inspected, which costs a
  // walk over the lines in some edit controls.
  bool textChanged_ = true;
  bool appending_ = false;
};

// A blank status bar: no panels, no text.
class TStatusBar : public TWinControl {
 public:
  using TWinControl::TWinControl;

 protected:
  void CreateParams(CreateParamsRec& params) override;
};

// Splits text at CR LF (or a lone LF) into lines; a final line break does
// not start another line. Exposed for the memo's callers and tests.
std::vector<std::wstring> SplitLines(const std::wstring& text);

}  // namespace tarnwick
