// A window with the main window's three title-bar buttons, for looking at
// them: "decor_demo" shows them, "decor_demo rolled" rolls the window up,
// "decor_demo pressed" paints the topmost button down. The window closes
// itself after a while so that a script never leaves it behind.
#include <windows.h>

#include <cwchar>

#include "decor/FormRoller.h"
#include "decor/FormTopmost.h"
#include "decor/MainWindowDecorations.h"
#include "ui/Application.h"
#include "ui/Form.h"

namespace {
void CALLBACK EndDemo(HWND, UINT, UINT_PTR, DWORD) { tarnwick::Application().Terminate(); }
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR args, int) {
  using namespace tarnwick;
  TApplication& app = Application();
  app.Initialize(instance);
  app.SetTitle(L"Tarnwick");
  TForm* form = app.CreateForm<TForm>();
  FormDef def;
  def.name = "Form1";
  def.caption = "Tarnwick LE";
  def.clientWidth = 610;
  def.clientHeight = 311;
  form->Build(def);
  const MainWindowDecorations d = AttachMainWindowDecorations(*form);
  ::ShowWindow(app.Handle(), SW_SHOWNOACTIVATE);
  form->Show();
  if (std::wcsstr(args, L"rolled") != nullptr) d.FormRoller1->SetRollUp(true);
  if (std::wcsstr(args, L"pressed") != nullptr) d.FormTopmost1->SetTopmostValue(true);
  ::SetTimer(form->Handle(), 0, 20000, &EndDemo);
  app.Run();
  return 0;
}
