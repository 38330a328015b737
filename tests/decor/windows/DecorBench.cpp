// Measures what the title-bar buttons cost: one full paint of a button
// (memory bitmap, edges, glyph, one copy to the frame), one trip of a
// message through a chain of three hooks, and one roll up and down of the
// main window's size at speed 8. Prints one line per measurement.
#include <windows.h>

#include <cstdio>

#include "decor/FormRoller.h"
#include "decor/FormTopmost.h"
#include "decor/MainWindowDecorations.h"
#include "ui/Application.h"
#include "ui/Form.h"

namespace {

double Now() {
  LARGE_INTEGER f, c;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

}  // namespace

int main() {
  using namespace tarnwick;
  Application().Initialize();
  auto* form = new TForm(nullptr);
  FormDef def;
  def.name = "Bench";
  def.caption = "Bench";
  def.clientWidth = 610;
  def.clientHeight = 311;
  form->Build(def);
  form->Show();
  const MainWindowDecorations d = AttachMainWindowDecorations(*form);
  Application().ProcessMessages();

  constexpr int kPaints = 2000;
  double start = Now();
  for (int i = 0; i < kPaints; ++i) d.FormTopmost1->Paint((i & 1) != 0);
  std::printf("paint one caption button: %.1f us\n", (Now() - start) * 1000.0 / kPaints);

  constexpr int kMessages = 20000;
  start = Now();
  for (int i = 0; i < kMessages; ++i) ::SendMessageW(form->Handle(), WM_NULL, 0, 0);
  std::printf("message through three hooks: %.2f us\n", (Now() - start) * 1000.0 / kMessages);

  start = Now();
  d.FormRoller1->SetRollUp(true);
  const double up = Now() - start;
  start = Now();
  d.FormRoller1->SetRollUp(false);
  std::printf("roll up: %.0f ms, roll down: %.0f ms (speed 8, client 311)\n", up, Now() - start);
  delete form;
  return 0;
}
