// Mailing the crash log: the pending-mail flag checked at start-up and
// shut-down, and the sending procedure with its question or notice.
#pragma once

#include "crash/CrashOptions.h"

namespace tarnwick {

// If the flag is set, runs the sending procedure; clears the flag afterwards
// whatever the outcome.
void CheckPendingMail();
// Sets the flag so that the next start sends the log.
void MarkMailForNextStart();
// Runs the sending procedure with options already loaded.
void SendLogNow(const CrashOptions& options);

}  // namespace tarnwick
