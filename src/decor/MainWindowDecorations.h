// The three title-bar components of the main window with their settings:
// from right to left the tray button, always on top and roll-up.
#pragma once

#include "ui/Component.h"

namespace tarnwick {

class TFormTrayIcon;
class TFormTopmost;
class TFormRoller;

struct MainWindowDecorations {
  TFormTrayIcon* FormTrayIcon1 = nullptr;
  TFormTopmost* FormTopmost1 = nullptr;
  TFormRoller* FormRoller1 = nullptr;
};

// Creates the components on `form`, which owns and frees them. When the
// form is being loaded its EndLoading finishes them; otherwise they are
// finished here as a form definition would.
MainWindowDecorations AttachMainWindowDecorations(TComponent& form);

}  // namespace tarnwick
