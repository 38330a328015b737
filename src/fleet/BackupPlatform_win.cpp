#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "fleet/BackupPlatform.h"

namespace tarnwick::fleet {

namespace {

std::atomic<bool> g_stop{false};

BOOL WINAPI OnConsoleControl(DWORD) {
  g_stop = true;
  return TRUE;  // the run winds down and removes its temporary files itself
}

}  // namespace

// WSAPoll has no descriptor limit to respect; sockets are kernel handles.
int FitJobsToDescriptors(int wanted, std::string&) { return wanted; }

StopSignals::StopSignals() {
  g_stop = false;
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopSignals::~StopSignals() { ::SetConsoleCtrlHandler(OnConsoleControl, FALSE); }

bool StopSignals::Requested() { return g_stop; }
void StopSignals::Reset() { g_stop = false; }

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

// Windows folders carry access lists, not mode bits; the check does not apply.
std::string ExposedSecretsWarning(const std::string&) { return {}; }

}  // namespace tarnwick::fleet
