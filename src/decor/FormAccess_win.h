// What the decorations need from the form that owns them, in one place so
// that the components do not depend on the form class's whole interface.
#pragma once

#include <windows.h>

#include "ui/Component.h"

namespace tarnwick {

// The form's window, created when it has none yet.
HWND FormHandle(TComponent* form);
bool FormVisible(TComponent* form);
void SetFormVisible(TComponent* form, bool visible);
// Brings the shown form to the front and gives it the keyboard, or the
// dialog it is waiting on when it is disabled by one.
void ActivateForm(TComponent* form);
// The form is the application's main form (its hiding takes the task-bar
// button with it).
bool IsApplicationMainForm(TComponent* form);
int FormClientHeight(TComponent* form);
void SetFormClientHeight(TComponent* form, int height);

}  // namespace tarnwick
