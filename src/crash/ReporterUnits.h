// The source files of the crash reporter itself, upper case, as the line
// tables record them. Their rows would only show the reporting machinery,
// never the code that failed, so the stack table leaves them out. The raise
// hook runs inside the error root's constructor, so that file is listed too.
#pragma once

#include <string>
#include <vector>

namespace tarnwick {

inline std::vector<std::string> ReporterUnits() {
  return {
      "BYTEREADER.CPP",       "BYTEREADER.H",         "CRASHLOG.CPP",         "CRASHLOG.H",
      "CRASHOPTIONS.CPP",     "CRASHOPTIONS.H",       "CRASHREPORT_WIN.CPP",  "CRASHREPORT.H",
      "DIALOGLAYOUT.CPP",     "DIALOGLAYOUT.H",       "EMAIL_WIN.CPP",        "EMAIL.H",
      "LINETABLE.CPP",        "LINETABLE.H",          "LINETABLEBUILDER.CPP", "LINETABLEBUILDER.H",
      "MAILSEND_WIN.CPP",     "MAILSEND.H",           "PEIMAGE.CPP",          "PEIMAGE.H",
      "REPORTDIALOG_WIN.CPP", "REPORTDIALOG.H",       "REPORTERUNITS.H",      "REPORTTEXT.CPP",
      "REPORTTEXT.H",         "STACKCAPTURE_WIN.CPP", "STACKCAPTURE.H",       "STACKSCAN.CPP",
      "STACKSCAN.H",          "STACKTABLE.CPP",       "STACKTABLE.H",         "EXCEPTION.CPP",
      "ANSITEXT.H",           "ANSITEXT_WIN.CPP",     "CRASHFILES.H",         "CRASHFILES_WIN.CPP",
      "MAILRULES.H",          "MAILRULES.CPP",
  };
}

}  // namespace tarnwick
