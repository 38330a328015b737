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
// A report made on a thread of its own while the failing thread waits
// (`ownerless`) takes no owner: disabling a window of the waiting thread
// would wait on that thread for ever.
void ShowReportDialog(const ReportDialogTexts& texts, bool ownerless = false);

}  // namespace tarnwick
