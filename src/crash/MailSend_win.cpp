#include <windows.h>

#include <optional>

#include "crash/AnsiText.h"
#include "crash/CrashFiles.h"
#include "crash/CrashLog.h"
#include "crash/EMail.h"
#include "crash/MailRules.h"
#include "crash/MailSend.h"

namespace tarnwick {

namespace {

void SendProcedure(const CrashOptions& options) {
  const std::wstring caption0 = AnsiToWide(options.Text(kTextInfoCaption));
  if (options.askMode == 0) {
    if (MessageBoxW(nullptr, AnsiToWide(options.Text(kTextMailQuestion)).c_str(),
                    AnsiToWide(options.Text(kTextQuestionCaption)).c_str(),
                    MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) != IDYES)
      return;
  } else if (options.askMode == 1) {
    MessageBoxW(nullptr, AnsiToWide(options.Text(kTextMailNotice)).c_str(), caption0.c_str(),
                MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
  }

  TEMail mail;
  if (mail.Logon() != kMailSuccess) return;
  mail.Recipients.push_back(options.mailAddress);
  mail.Subject = options.mailSubject;
  // The log may have gone to the user's own folder when its place beside
  // the program could not be written.
  const std::string log = WideToAnsi(NewestLogPath(SideFile(ProgramPath(), L"log", options.logFolder)));
  if (!log.empty()) mail.Attachments.push_back(log);
  mail.Body = JoinLines(options.mailBodyLines.data(), options.mailBodyLines.size());
  mail.Send();  // the outcome is never shown: the user did not ask for a mail
  mail.Logoff();
}

}  // namespace

void CheckPendingMail() {
  if (ReadPendingMailFlag() == 0) return;
  try {
    const std::optional<CrashOptions> loaded = LoadOptions(ProgramPath());
    SendProcedure(loaded ? *loaded : CrashOptions());
  } catch (...) {
    // Errors of the mail path are never shown; the flag is cleared below.
  }
  WritePendingMailFlag(0);
}

void MarkMailForNextStart() { WritePendingMailFlag(1); }

void SendLogNow(const CrashOptions& options) { SendProcedure(options); }

}  // namespace tarnwick
