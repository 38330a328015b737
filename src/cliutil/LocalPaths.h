// The platform facts the local-file rules (LocalFiles.h) stand on, one
// POSIX and one Windows part. Paths are UTF-8.
#pragma once

#include <optional>
#include <string>

#include "cliutil/FileHandle.h"

namespace tarnwick::cli {

enum class PathKind {
  Missing,  // nothing there yet: a new file
  Regular,
  Folder,
  Other,    // FIFO, device, socket, a procfs or sysfs file: written in place
  Unknown,  // cannot be examined; the reason is in the error
};

// What path names, symlinks followed.
PathKind ExaminePath(const std::string& path, FileError& error);
// The file a chain of symlinks ends at (the path itself when it is none),
// so a new file is created beside the real one.
std::string FollowLinks(const std::string& path);
// Why the user could not write this existing regular file, or nothing. No
// owner write bit (or the read-only attribute) refuses even for root, who
// could write anything: cp would ask first.
std::optional<std::string> WriteRefusal(const std::string& path);

}  // namespace tarnwick::cli
