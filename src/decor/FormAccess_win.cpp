#include "decor/FormAccess_win.h"

#include "ui/Application.h"
#include "ui/Form.h"

namespace tarnwick {
namespace {
TWinControl* AsControl(TComponent* form) { return dynamic_cast<TWinControl*>(form); }
}  // namespace

HWND FormHandle(TComponent* form) {
  TWinControl* control = AsControl(form);
  return control != nullptr ? control->Handle() : nullptr;
}

bool FormVisible(TComponent* form) {
  TWinControl* control = AsControl(form);
  if (control == nullptr) return false;
  return control->HandleAllocated() ? ::IsWindowVisible(control->Handle()) != FALSE : control->Visible();
}

void SetFormVisible(TComponent* form, bool visible) {
  if (TWinControl* control = AsControl(form)) control->SetVisible(visible);
}

void ActivateForm(TComponent* form) {
  TWinControl* control = AsControl(form);
  if (control == nullptr || !control->HandleAllocated()) return;
  HWND wnd = control->Handle();
  if (!::IsWindowVisible(wnd)) return;
  HWND target = ::IsWindowEnabled(wnd) ? wnd : ::GetLastActivePopup(wnd);
  ::SetForegroundWindow(target);
  ::SetActiveWindow(target);
}

bool IsApplicationMainForm(TComponent* form) {
  TForm* main = Application().MainForm();
  return main != nullptr && dynamic_cast<TForm*>(form) == main;
}

int FormClientHeight(TComponent* form) {
  TWinControl* control = AsControl(form);
  return control != nullptr ? control->ClientHeight() : 0;
}

void SetFormClientHeight(TComponent* form, int height) {
  TWinControl* control = AsControl(form);
  if (control == nullptr) return;
  HWND wnd = control->Handle();
  RECT outer{}, client{};
  ::GetWindowRect(wnd, &outer);
  ::GetClientRect(wnd, &client);
  const int delta = height - (client.bottom - client.top);
  ::SetWindowPos(wnd, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top + delta,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // A window made again later keeps the height the user last saw.
  if (auto* f = dynamic_cast<TForm*>(form)) {
    ::GetClientRect(wnd, &client);
    f->SetClientSize(client.right - client.left, client.bottom - client.top);
  }
}

}  // namespace tarnwick
