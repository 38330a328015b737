// Where the report dialog puts its controls, as plain arithmetic on the
// client size so that it is tested without a window.
#pragma once

namespace tarnwick {

struct LayoutRect {
  int left = 0, top = 0, width = 0, height = 0;
};

struct ReportDialogLayout {
  LayoutRect report;       // the read-only edit with the report text
  LayoutRect explanation;  // the centred text beside the picture
  LayoutRect button;
};

// Widths and heights never go below zero: a window shrunk below its design
// size keeps its controls collapsed instead of handing negative sizes on.
ReportDialogLayout LayoutReportDialog(int clientWidth, int clientHeight) noexcept;

// The label above the report: 13 pixels at 96 dots per inch, scaled.
LayoutRect ReportLabelRect(int pixelsPerInchY) noexcept;

struct DialogGeometry {
  int left = 0, top = 0, width = 466, height = 252;
  int showState = 1;  // 1 normal, 3 maximised, 6 minimised
};

// The geometry used when the profile holds none: centred on the screen.
DialogGeometry DefaultDialogGeometry(int screenWidth, int screenHeight) noexcept;

// The show state recorded for a size event: maximised 3, minimised 6, else 1.
int RecordedShowState(bool maximised, bool minimised) noexcept;

// The profile file is plain text anyone can edit: a show state other than
// the three the dialog records (a hidden one would leave an invisible modal
// dialog blocking the program) opens it normally.
int UsableShowState(int stored) noexcept;

// A screen rectangle as its edges (right and bottom exclusive).
struct ScreenRect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// The stored rectangle may belong to a monitor that is gone or to another
// screen layout: a modal dialog opened there leaves the program looking
// frozen. The rectangle is moved (and, if larger, shrunk) so that it lies
// wholly inside `workArea`, the work area of the monitor nearest to it; one
// that already does is kept as it is.
DialogGeometry KeepInsideWorkArea(DialogGeometry geometry, const ScreenRect& workArea) noexcept;

}  // namespace tarnwick
