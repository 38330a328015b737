// The rules of the crash log beside the executable: where it lives, when it
// is emptied, which entries are repeats, how old entries are trimmed. The
// content is handled as bytes; the file itself is read and written by the
// platform code.
#pragma once

#include <cstdint>
#include <functional>
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

// Reads up to `size` bytes of the log at `offset` into `into`: the count
// read, fewer only at the log's end, or nothing when the read failed.
using LogReadAt =
    std::function<std::optional<std::size_t>(std::uint64_t offset, char* into, std::size_t size)>;

// The same rules over a log that is read piece by piece: memory stays
// bounded whatever the log's size, so a crash in a process short of address
// space still records its entry. A Replace keeps the old log from
// `keepFrom` to its end and adds the entry (a cleared log keeps nothing);
// an Append adds the entry alone. A read that fails gives an Append.
struct LogEdit {
  LogWrite::Kind kind = LogWrite::Kind::Nothing;
  std::uint64_t keepFrom = 0;
};
LogEdit PlanLogEdit(std::uint64_t logSize, const LogReadAt& read, const std::string& stackTable,
                    const std::string& versionNumber, const CrashOptions& options);

// The size of the pieces PlanLogEdit reads and a replacement copies.
inline constexpr std::size_t kLogPieceSize = 64 * 1024;

// Logs of this size or more are not read at all: the entry is appended
// without the log rules, which would cost a read of gigabytes on the crash
// path.
inline constexpr unsigned long long kLogReadLimit = 0x7FFFFFFFull;

}  // namespace tarnwick
