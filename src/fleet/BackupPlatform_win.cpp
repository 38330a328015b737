#include <windows.h>

#include "fleet/BackupPlatform.h"

namespace tarnwick::fleet {

void EndProcessAtOnce() {
  ::TerminateProcess(::GetCurrentProcess(), 137);
  ::ExitProcess(137);  // never reached
}

// WSAPoll has no descriptor limit to respect; sockets are kernel handles.
int FitJobsToDescriptors(int wanted, std::string&) { return wanted; }

// Windows folders carry access lists, not mode bits; the check does not apply.
std::string ExposedSecretsWarning(const std::string&) { return {}; }

}  // namespace tarnwick::fleet
