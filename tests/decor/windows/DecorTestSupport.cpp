#include "DecorTestSupport.h"

#include <stdexcept>

#include "base/Exception.h"
#include "ui/Application.h"

namespace tarnwick::testing {

void EnsureApplication() { Application().Initialize(); }

TForm* MakeForm(int clientWidth, int clientHeight, BorderStyle border) {
  EnsureApplication();
  auto* form = new TForm(nullptr);
  FormDef def;
  def.name = "DecorTestForm";
  def.caption = "Decor test";
  def.clientWidth = clientWidth;
  def.clientHeight = clientHeight;
  def.border = border;
  form->BeginLoading();
  form->Build(def);
  form->EndLoading();
  form->Show();
  Pump();
  return form;
}

void Pump(int ms) {
  const DWORD start = ::GetTickCount();
  do {
    Application().ProcessMessages();
    ::Sleep(1);
  } while (static_cast<int>(::GetTickCount() - start) < ms);
}

LRESULT SendAt(HWND wnd, UINT msg, WPARAM wParam, POINT screen) {
  return ::SendMessageW(wnd, msg, wParam, MAKELPARAM(screen.x, screen.y));
}

void TProbe::BeforeHookedMessage(THookMessage& msg, bool& handled) {
  if (msg.Msg == raiseOn && raiseOn != 0) throw Exception("EProbeError", "probe " + name_);
  if (msg.Msg == watch) log_->push_back(name_ + ":before");
  if (msg.Msg == swallow && swallow != 0) {
    msg.Result = swallowResult;
    handled = true;
  }
}

void TProbe::AfterHookedMessage(THookMessage& msg) {
  if (msg.Msg == watch || (msg.Msg == swallow && swallow != 0)) log_->push_back(name_ + ":after");
}

}  // namespace tarnwick::testing
