// The rules of the crash log beside the executable: where it lives, when it
// is emptied, which entries are repeats, how old entries are trimmed. The
// content is handled as bytes; the file itself is read and written by the
// platform code.
#pragma once

#include <optional>
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

// What to do with the log file for one entry. Earlier entries are only ever
// removed by the log rules themselves (a new version, the entry limit), and
// then the whole new content replaces the file in one step; a log whose
// content could not be read (an I/O failure, 2 GiB or more) is never judged
// on a guess: the entry is appended as it is.
struct LogWrite {
  enum class Kind { Nothing, Append, Replace };
  Kind kind = Kind::Nothing;
  std::string bytes;  // the entry to append, or the whole new content
};

// `content` is the current log, or nothing when it could not be read.
LogWrite PlanLogWrite(const std::optional<std::string>& content, const std::string& entry,
                      const std::string& stackTable, const std::string& versionNumber,
                      const CrashOptions& options);

// Logs of this size or more are not read whole: their length no longer fits
// the 32-bit sizes of the file calls, and their content is not needed to add
// an entry.
inline constexpr unsigned long long kLogReadLimit = 0x7FFFFFFFull;

}  // namespace tarnwick
