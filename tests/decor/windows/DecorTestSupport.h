// Shared pieces of the window tests: a test form, a message pump with a
// bound, and a hooking probe that records what it sees.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "decor/cbClasses.h"
#include "ui/Form.h"

namespace tarnwick::testing {

// Initialises the application object once.
void EnsureApplication();

// A sizeable form of the given client size, window created and shown.
TForm* MakeForm(int clientWidth = 400, int clientHeight = 200, BorderStyle border = BorderStyle::Sizeable);

// Handles queued messages for at most `ms` milliseconds.
void Pump(int ms = 50);

// Sends a non-client message whose lParam is a screen point.
LRESULT SendAt(HWND wnd, UINT msg, WPARAM wParam, POINT screen);

// A hooking component that records before/after calls in a shared log.
class TProbe : public TcbFormHookComponent {
 public:
  TProbe(TComponent* owner, std::string name, std::vector<std::string>* log)
      : TcbFormHookComponent(owner), name_(std::move(name)), log_(log) {}
  ~TProbe() override { BeginDestroy(); }

  UINT watch = WM_USER + 5;  // message logged
  UINT swallow = 0;          // message handled before the form
  LRESULT swallowResult = 0;
  UINT raiseOn = 0;  // message that raises an error
  int restored = 0;

 protected:
  void BeforeHookedMessage(THookMessage& msg, bool& handled) override;
  void AfterHookedMessage(THookMessage& msg) override;
  void HookRestored() override { ++restored; }

 private:
  std::string name_;
  std::vector<std::string>* log_;
};

}  // namespace tarnwick::testing
