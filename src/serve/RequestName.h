// The file name of a request, as bytes from the wire, turned into the plain
// components of a path beneath ROOT, or refused. Nothing is decoded (a "%2e"
// stays three literal bytes); a leading separator means ROOT; '/' and '\'
// both separate. Two rule sets: the POSIX one, and the Windows one that also
// refuses what Windows would read as a device, a drive, a share, a stream or
// a name it silently trims. Pure, so both sets are tested on every build.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "serve/Refusal.h"

namespace tarnwick::serve {

inline constexpr std::size_t kMaxNameBytes = 1024;      // the whole requested name
inline constexpr std::size_t kMaxComponentBytes = 255;  // one component (NAME_MAX)
inline constexpr std::size_t kMaxDepth = 32;            // components in one name

// Our own temporary files start with this; requests never name them, so a
// half-written upload can be neither read nor overwritten.
inline constexpr char kServeTempPrefix[] = ".tarnwick-";

struct RequestName {
  std::vector<std::string> parts;  // at least one when not refused
  Refusal refusal;
};

RequestName SplitRequestName(std::string_view wire, bool windowsRules);

// The rule set of the system this build runs on (RootFolder_posix/_win).
bool NativeNameRules();

}  // namespace tarnwick::serve
