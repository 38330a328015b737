// --report FILE: written whole or not at all. The content goes to a new
// file of an unpredictable name beside FILE (created exclusively, so a
// planted name or link cannot be written through), is flushed, and is
// renamed over FILE; a link at FILE is replaced, never followed.
#pragma once

#include <string>

namespace tarnwick::archive {

// Who may read the file besides its owner. A report quotes the
// configurations' diffs, wherever it is written: 0600, or 0640 when DEST is
// a team's folder, as the configurations. The metrics file holds counts and
// times only, and the collector that reads it runs as a user of its own: it
// is created as any new file is (0666 less the umask).
enum class ReportReaders { Owner, Group, All };

bool WriteReportFile(const std::string& path, const std::string& content, ReportReaders readers,
                     std::string& error);

}  // namespace tarnwick::archive
