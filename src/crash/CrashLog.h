// The rules of the crash log beside the executable: where it lives, when it
// is emptied, which entries are repeats, how old entries are trimmed. The
// content is handled as bytes; the file itself is read and written by the
// platform code.
#pragma once

#include <string>

#include "crash/CrashOptions.h"

namespace tarnwick {

// The executable's path with its last three characters replaced by
// `suffix` ("log", "crash.ini"); with a log folder, that folder's directory
// part takes the place of the executable's.
std::string SideFilePath(const std::string& exePath, const std::string& suffix,
                         const std::string& logFolder = {});

// The file name part of a path ("\\" or "/" separated).
std::string FileNamePart(const std::string& path);

struct LogUpdate {
  std::string content;     // the new file content
  bool duplicate = false;  // the entry was a repeat: nothing was added
};

// Applies the log rules to the current `content` and appends `entry`
// (header + stack table + CR LF) unless its `stackTable` is already stored.
// `content` is untrusted text of any size.
LogUpdate UpdateLog(std::string content, const std::string& entry, const std::string& stackTable,
                    const std::string& versionNumber, const CrashOptions& options);

}  // namespace tarnwick
