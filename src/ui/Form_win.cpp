#include "ui/Form.h"

#include <vector>

#include "base/TextCodec.h"
#include "ui/Application.h"
#include "ui/Layout.h"
#include "ui/StdCtrls.h"

namespace tarnwick {
namespace {
BOOL CALLBACK CollectEnabledWindow(HWND w, LPARAM param) {
  auto* list = reinterpret_cast<std::vector<HWND>*>(param);
  if (::IsWindowVisible(w) && ::IsWindowEnabled(w)) list->push_back(w);
  return TRUE;
}
}  // namespace

TForm::TForm(TComponent* owner) : TWinControl(owner) { SetVisible(false); }

TForm::~TForm() {
  // Owned components (controls, dialogs, components hooking our window)
  // go first, while the window still exists.
  BeginDestroy();
  Application().FormDestroyed(this);
}

void TForm::BeginLoading() noexcept { SetLoading(); }

void TForm::Notification(TComponent* component, Operation operation) {
  if (operation == Operation::Insert && IsLoading()) component->SetLoading();
  TWinControl::Notification(component, operation);
}

TWinControl* TForm::CreateControl(const ControlDef& def) {
  switch (def.kind) {
    case ControlKind::Panel:
      return new TPanel(this);
    case ControlKind::GroupBox:
      return new TGroupBox(this);
    case ControlKind::Label:
      return new TLabel(this);
    case ControlKind::Edit:
    case ControlKind::PasswordEdit:
      return new TEdit(this);
    case ControlKind::CheckBox:
      return new TCheckBox(this);
    case ControlKind::Button:
      return new TButton(this);
    case ControlKind::Memo:
      return new TMemo(this);
    case ControlKind::StatusBar:
      return new TStatusBar(this);
  }
  throw std::logic_error("unknown control kind");
}

void TForm::Build(const FormDef& def) {
  SetName(def.name);
  SetText(Utf8ToWide(def.caption));
  clientWidth_ = def.clientWidth;
  clientHeight_ = def.clientHeight;
  border_ = def.border;
  centred_ = def.centred;
  SetColor(def.color);
  SetFont(def.font);
  std::vector<TWinControl*> made;
  for (const ControlDef& c : def.controls) {
    TWinControl* control = CreateControl(c);
    control->ApplyDefinition(c);
    made.push_back(control);
  }
  // Linked in a second pass, so a definition may list a child before its
  // parent.
  for (std::size_t i = 0; i < def.controls.size(); ++i) {
    const std::string& parentName = def.controls[i].parent;
    TWinControl* parent = this;
    if (!parentName.empty()) {
      parent = dynamic_cast<TWinControl*>(FindComponent(parentName));
      if (parent == nullptr) throw std::logic_error("unknown parent " + parentName);
    }
    made[i]->SetParent(parent);
  }
}

void TForm::EndLoading() {
  for (std::size_t i = 0; i < ComponentCount(); ++i) {
    TComponent* c = Components(i);
    if (c->IsLoading()) c->Loaded();
  }
  Loaded();
}

TWinControl* TForm::ControlById(int id) const noexcept {
  for (std::size_t i = 0; i < ComponentCount(); ++i) {
    auto* c = dynamic_cast<TWinControl*>(Components(i));
    if (c != nullptr && c->ControlId() == id) return c;
  }
  return nullptr;
}

void TForm::SetClientSize(int width, int height) noexcept {
  clientWidth_ = width;
  clientHeight_ = height;
}

void TForm::CreateParams(CreateParamsRec& p) {
  p.className = window_class::Form;
  p.ownClass = true;
  if (border_ == BorderStyle::Dialog) {
    p.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | DS_MODALFRAME;
    p.exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  } else {
    p.style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    p.exStyle = WS_EX_CONTROLPARENT;
  }
}

void TForm::CreateHandle() {
  // The outer size follows from the client size the definition gives, so
  // the controls fit whatever the frame metrics of the system are.
  CreateParamsRec p;
  CreateParams(p);
  RECT rc{0, 0, clientWidth_, clientHeight_};
  ::AdjustWindowRectEx(&rc, p.style, FALSE, p.exStyle);
  Rect outer{0, 0, rc.right - rc.left, rc.bottom - rc.top};
  if (centred_) {
    Point at = CenterOnScreen(::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN), outer.width,
                              outer.height);
    outer.left = at.x;
    outer.top = at.y;
  }
  SetBounds(outer);
  TWinControl::CreateHandle();
}

HWND TForm::ParentHandleForCreate() {
  // Dialogs belong to the form that owns them, other forms to the
  // application window, which carries the task-bar button.
  if (auto* ownerForm = dynamic_cast<TForm*>(Owner())) return ownerForm->Handle();
  return Application().Handle();
}

void TForm::Show() {
  Handle();
  SetVisible(true);
  ::ShowWindow(Handle(), SW_SHOW);
  ::SetForegroundWindow(Handle());
  FocusFirst();
}

void TForm::Hide() { SetVisible(false); }

void TForm::FocusFirst() {
  HWND focus = ::GetFocus();
  if (focus != nullptr && (focus == Handle() || ::IsChild(Handle(), focus))) return;
  if (HWND first = ::GetNextDlgTabItem(Handle(), nullptr, FALSE)) ::SetFocus(first);
}

void TForm::Close() {
  if (modal_) {
    modalResult_ = ModalResultOnClose(modalResult_);
  } else if (Application().MainForm() == this) {
    Hide();
    Application().Terminate();
  } else {
    Hide();
  }
}

int TForm::ShowModal() {
  HWND self = Handle();
  // Every other window of the thread stops taking input while we run.
  struct Disabled {
    std::vector<HWND> windows;
    ~Disabled() {
      for (HWND w : windows) ::EnableWindow(w, TRUE);
    }
  } disabled;
  ::EnumThreadWindows(::GetCurrentThreadId(), &CollectEnabledWindow, reinterpret_cast<LPARAM>(&disabled.windows));
  HWND previousActive = ::GetActiveWindow();
  for (HWND w : disabled.windows) {
    if (w != self) ::EnableWindow(w, FALSE);
  }
  modal_ = true;
  modalResult_ = mrNone;
  struct ModalFlag {
    bool& flag;
    ~ModalFlag() { flag = false; }
  } flag{modal_};
  Show();
  TApplication& app = Application();
  while (!ModalLoopEnds(modalResult_, app.Terminated())) {
    if (!app.HandleMessage()) break;
  }
  int result = ModalFinalResult(modalResult_, app.Terminated());
  // Enable the others before hiding, so activation returns to our owner
  // rather than to another program.
  for (HWND w : disabled.windows) ::EnableWindow(w, TRUE);
  disabled.windows.clear();
  ::SetWindowPos(self, nullptr, 0, 0, 0, 0,
                 SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetVisible(false);
  if (previousActive != nullptr && previousActive != self && ::IsWindow(previousActive))
    ::SetActiveWindow(previousActive);
  return result;
}

bool TForm::HandleMnemonic(char32_t letter) {
  if (letter == 0) return false;
  if (letter >= 'a' && letter <= 'z') letter -= 'a' - 'A';
  for (std::size_t i = 0; i < ComponentCount(); ++i) {
    auto* control = dynamic_cast<TWinControl*>(Components(i));
    if (control == nullptr || !control->HandleAllocated()) continue;
    auto* button = dynamic_cast<TButton*>(control);
    auto* check = dynamic_cast<TCheckBox*>(control);
    if (button == nullptr && check == nullptr) continue;
    HWND wnd = control->Handle();
    if (!::IsWindowVisible(wnd) || !::IsWindowEnabled(wnd)) continue;
    if (MnemonicOf(WideToUtf8(control->Text()).c_str()) != letter) continue;
    control->SetFocus();
    ::SendMessageW(wnd, BM_CLICK, 0, 0);
    return true;
  }
  return false;
}

LRESULT TForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_SYSCOMMAND:
      // The main form has no task-bar button of its own: minimising it
      // minimises the application window, which hides the windows it owns
      // and shows them again when it is restored.
      if ((wParam & 0xFFF0) == SC_MINIMIZE && Application().MainForm() == this && Application().Handle() != nullptr) {
        Application().Minimize();
        return 0;
      }
      break;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = ::GetFocus();
        if (focus != nullptr && ::IsChild(Handle(), focus)) lastFocus_ = focus;
      } else {
        if (lastFocus_ != nullptr && ::IsWindow(lastFocus_) && ::IsChild(Handle(), lastFocus_))
          ::SetFocus(lastFocus_);
        else
          FocusFirst();
        return 0;
      }
      break;
    case WM_COMMAND:
      // Enter and Escape reach a form as IDOK / IDCANCEL without a control;
      // no button of ours is bound to them.
      if (lParam == 0) return 0;
      break;
    default:
      break;
  }
  return TWinControl::WndProc(msg, wParam, lParam);
}

}  // namespace tarnwick
