// Program entry: error handling first, then the socket layer, then the
// application object and the main window; the loop runs until the main
// window closes.
#include <windows.h>

#include "app/MainForm.h"
#if TARNWICK_CRASH_LINKED
#include "crash/CrashReport.h"
#endif
#include "base/TextCodec.h"
#include "net/SocketApi.h"
#include "ui/Application.h"

using namespace tarnwick;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The crash reporter installs itself on the next line, before anything else runs:
  // CRASH REPORTER INSTALL
#if TARNWICK_CRASH_LINKED
  CrashReporterScope crashReporter;
  Application().OnException = [](TObject*, const std::exception& error) { HandleLoopException(error); };
  CrashHandler().ActiveNamesSource = [] {
    ActiveNames names;
    if (TForm* form = Application().ActiveForm()) names.form = form->Name();
    if (TWinControl* control = Application().ActiveControl()) names.control = control->Name();
    return names;
  };
#endif
  try {
    SocketLayerScope sockets;  // stopped and unloaded when the loop has ended
    TApplication& app = Application();
    app.Initialize(instance);
    app.SetTitle(L"Tarnwick");
    app.CreateForm<TForm1>();
    app.Run();
    // The forms go while the window system and the socket layer are still
    // up, so components that clean up in their destructors (the tray icon,
    // say) can do so.
    app.DestroyForms();
  } catch (const std::exception& error) {
#if TARNWICK_CRASH_LINKED
    HandleFatalException();  // reports, then ends the process with exit code 1
#endif
    std::wstring text = Utf8ToWide(error.what());
    ::MessageBoxW(nullptr, text.c_str(), L"Tarnwick", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    return 1;
  } catch (...) {
    // Something thrown that is no exception object is still an error
    // outside the loop: reported, not left to end the program unseen.
#if TARNWICK_CRASH_LINKED
    HandleFatalException();
#endif
    ::MessageBoxW(nullptr, L"General Error.", L"Tarnwick", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    return 1;
  }
  return 0;
}
