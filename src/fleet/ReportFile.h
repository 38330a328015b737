// --report FILE: written whole or not at all. The content goes to a new
// file of an unpredictable name beside FILE (created exclusively, so a
// planted name or link cannot be written through), is flushed, and is
// renamed over FILE; a link at FILE is replaced, never followed. It is
// created 0600, 0640 when groupReadable (DEST is a team's folder): a report
// quotes the configurations' diffs, wherever it is written.
#pragma once

#include <string>

namespace tarnwick::fleet {

bool WriteReportFile(const std::string& path, const std::string& content, bool groupReadable,
                     std::string& error);

}  // namespace tarnwick::fleet
