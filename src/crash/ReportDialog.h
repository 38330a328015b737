// The modal report dialog (output mode 0), built from the "DIALOG"
// template of the program's resources.
#pragma once

#include <string>

namespace tarnwick {

struct ReportDialogTexts {
  std::wstring caption;      // "Exception Log (Tarnwick.exe)"
  std::wstring explanation;  // beside the picture
  std::wstring label;        // above the report
  std::wstring button;
  std::wstring report;
};

// Shows the dialog owned by the current foreground window and returns when
// it is closed. Its geometry is kept in "CrashReport.ini" [Coordinates].
void ShowReportDialog(const ReportDialogTexts& texts);

}  // namespace tarnwick
