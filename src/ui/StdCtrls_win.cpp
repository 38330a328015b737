#include "ui/StdCtrls.h"

#include <commctrl.h>

#include "base/TextCodec.h"
#include "ui/Font.h"

namespace tarnwick {

std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find(L'\n', start);
    if (nl == std::wstring::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    std::size_t end = nl;
    if (end > start && text[end - 1] == L'\r') --end;
    lines.push_back(text.substr(start, end - start));
    start = nl + 1;
  }
  return lines;
}

// --- TPanel -------------------------------------------------------------

void TPanel::CreateParams(CreateParamsRec& p) {
  p.className = window_class::Panel;
  p.ownClass = true;
  p.style = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  p.exStyle = WS_EX_CONTROLPARENT;
}

// --- TGroupBox ----------------------------------------------------------

void TGroupBox::CreateParams(CreateParamsRec& p) {
  p.className = L"BUTTON";
  p.style = BS_GROUPBOX | WS_CLIPSIBLINGS;
  p.exStyle = WS_EX_CONTROLPARENT;
}

Rect TGroupBox::AlignArea() {
  Rect r = TWinControl::AlignArea();
  // Keep docked children inside the frame and below the caption.
  int caption = static_cast<int>(MeasureText(FontHandle(), L"0").cy);
  const int border = 2;
  r.left += border;
  r.top += caption;
  r.width = std::max(0, r.width - 2 * border);
  r.height = std::max(0, r.height - caption - border);
  return r;
}

LRESULT TGroupBox::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_ERASEBKGND) {
    // The system group box leaves its inside unpainted; fill it with the
    // colour that shows through from the parent.
    RECT rc{};
    ::GetClientRect(Handle(), &rc);
    ::FillRect(reinterpret_cast<HDC>(wParam), &rc, BackgroundBrush());
    return 1;
  }
  if (msg == WM_NCHITTEST) {
    // A group box is transparent to the mouse in the system class; as a
    // container it must receive clicks so its children work normally.
    return HTCLIENT;
  }
  return TWinControl::WndProc(msg, wParam, lParam);
}

// --- TLabel -------------------------------------------------------------

void TLabel::CreateParams(CreateParamsRec& p) {
  p.className = L"STATIC";
  p.style = SS_LEFT | SS_NOPREFIX;
}

void TLabel::HandleCreated() {
  TWinControl::HandleCreated();
  if (Bounds().width == 0 || Bounds().height == 0) {
    SIZE size = MeasureText(FontHandle(), Text());
    Rect r = Bounds();
    r.width = size.cx;
    r.height = size.cy;
    SetBounds(r);
  }
}

// --- TEdit --------------------------------------------------------------

void TEdit::ApplyDefinition(const ControlDef& def) {
  TWinControl::ApplyDefinition(def);
  if (def.kind == ControlKind::PasswordEdit) passwordChar_ = L'*';
}

void TEdit::SetPasswordChar(wchar_t c) {
  passwordChar_ = c;
  if (HandleAllocated()) {
    ::SendMessageW(Handle(), EM_SETPASSWORDCHAR, c, 0);
    ::InvalidateRect(Handle(), nullptr, TRUE);
  }
}

void TEdit::CreateParams(CreateParamsRec& p) {
  p.className = L"EDIT";
  p.style = ES_AUTOHSCROLL | ES_LEFT;
  if (passwordChar_ != 0) p.style |= ES_PASSWORD;
  p.exStyle = WS_EX_CLIENTEDGE;
}

void TEdit::HandleCreated() {
  TWinControl::HandleCreated();
  // No length limit: the system default would stop typing at 32767.
  ::SendMessageW(Handle(), EM_SETLIMITTEXT, 0, 0);
  if (passwordChar_ != 0) ::SendMessageW(Handle(), EM_SETPASSWORDCHAR, passwordChar_, 0);
}

// --- TCheckBox ----------------------------------------------------------

void TCheckBox::ApplyDefinition(const ControlDef& def) {
  TWinControl::ApplyDefinition(def);
  checked_ = def.checked;
}

void TCheckBox::CreateParams(CreateParamsRec& p) {
  p.className = L"BUTTON";
  p.style = BS_AUTOCHECKBOX;
}

void TCheckBox::HandleCreated() {
  TWinControl::HandleCreated();
  ::SendMessageW(Handle(), BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TCheckBox::Checked() const {
  if (!HandleAllocated()) return checked_;
  return ::SendMessageW(const_cast<TCheckBox*>(this)->Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckBox::SetChecked(bool checked) {
  checked_ = checked;
  if (HandleAllocated()) ::SendMessageW(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TCheckBox::HandleReflected(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    checked_ = Checked();
    if (OnClick) OnClick(this);
    result = 0;
    return true;
  }
  return false;
}

// --- TMemo --------------------------------------------------------------

void TMemo::ApplyDefinition(const ControlDef& def) {
  TWinControl::ApplyDefinition(def);
  readOnly_ = def.readOnly;
  scrollBars_ = def.scrollBars;
  // Definitions give memo text with LF line breaks; the control wants CR LF.
  text_.clear();
  for (const std::wstring& line : SplitLines(Utf8ToWide(def.text))) text_ += line + L"\r\n";
}

void TMemo::SetReadOnly(bool r) {
  readOnly_ = r;
  if (HandleAllocated()) ::SendMessageW(Handle(), EM_SETREADONLY, r ? TRUE : FALSE, 0);
}

void TMemo::CreateParams(CreateParamsRec& p) {
  p.className = L"EDIT";
  p.style = ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_LEFT | ES_NOHIDESEL;
  if (readOnly_) p.style |= ES_READONLY;
  if (scrollBars_ == ScrollBars::Vertical || scrollBars_ == ScrollBars::Both) p.style |= WS_VSCROLL;
  if (scrollBars_ == ScrollBars::Both) p.style |= WS_HSCROLL | ES_AUTOHSCROLL;
  p.exStyle = WS_EX_CLIENTEDGE;
}

void TMemo::HandleCreated() {
  TWinControl::HandleCreated();
  // The work log only grows; the default limit would silently stop it.
  ::SendMessageW(Handle(), EM_SETLIMITTEXT, 0, 0);
  // The text given at creation may already be cut at the default limit.
  ::SetWindowTextW(Handle(), text_.c_str());
}

HBRUSH TMemo::CtlColor(HDC dc, UINT msg) {
  if (GetColor().IsSet()) return TWinControl::CtlColor(dc, msg);
  // A read-only memo keeps the window colour like an editable one.
  ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
  ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
  return ::GetSysColorBrush(COLOR_WINDOW);
}

void TMemo::SetLines(const std::vector<std::wstring>& lines) {
  std::wstring text;
  for (const std::wstring& line : lines) text += line + L"\r\n";
  SetText(text);
}

std::vector<std::wstring> TMemo::Lines() const { return SplitLines(Text()); }

bool TMemo::HandleReflected(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
  if (msg == WM_COMMAND && HIWORD(wParam) == EN_CHANGE) {
    if (!appending_) textChanged_ = true;
    result = 0;
    return true;
  }
  return false;
}

LRESULT TMemo::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  // Every way text gets in besides our own appends; a multi-line edit does
  // not report WM_SETTEXT through EN_CHANGE.
  switch (msg) {
    case WM_SETTEXT:
    case EM_REPLACESEL:
    case WM_CHAR:
    case WM_KEYDOWN:
    case WM_PASTE:
    case WM_CUT:
    case WM_CLEAR:
    case WM_UNDO:
    case EM_UNDO:
      if (!appending_) textChanged_ = true;
      break;
    default:
      break;
  }
  return TWinControl::WndProc(msg, wParam, lParam);
}

bool TMemo::EndsWithOpenLine() {
  HWND wnd = Handle();
  if (::GetWindowTextLengthW(wnd) == 0) return false;
  LRESULT lastLine = ::SendMessageW(wnd, EM_GETLINECOUNT, 0, 0) - 1;
  LRESULT lastStart = ::SendMessageW(wnd, EM_LINEINDEX, static_cast<WPARAM>(lastLine), 0);
  return lastStart >= 0 && ::SendMessageW(wnd, EM_LINELENGTH, static_cast<WPARAM>(lastStart), 0) > 0;
}

void TMemo::AppendLine(const std::wstring& line) {
  HWND wnd = Handle();
  std::wstring insert;
  // A last line typed by the user without a line break is finished first,
  // so the new line is a line of its own. Only text we did not write
  // ourselves can end that way.
  if (textChanged_ && EndsWithOpenLine()) insert = L"\r\n";
  insert += line + L"\r\n";
  int length = ::GetWindowTextLengthW(wnd);
  appending_ = true;
  ::SendMessageW(wnd, EM_SETSEL, static_cast<WPARAM>(length), static_cast<LPARAM>(length));
  ::SendMessageW(wnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(insert.c_str()));
  appending_ = false;
  textChanged_ = false;
}

// --- TStatusBar ---------------------------------------------------------

void TStatusBar::CreateParams(CreateParamsRec& p) {
  p.className = STATUSCLASSNAMEW;
  // Placed by the form's docking like any other control.
  p.style = CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER | SBARS_SIZEGRIP;
}

}  // namespace tarnwick
