// The validate stage: whether a complete transfer may replace the saved
// configuration. A device that answers with nothing, with an error page
// instead of its configuration, or with a cut-off file must never push a
// good copy into the history and take its place.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "archive/Pattern.h"

namespace tarnwick::archive {

constexpr double kDefaultMinRatio = 0.5;

struct ValidationRules {
  // A new copy smaller than this fraction of the saved one is refused; 0
  // accepts any size.
  double minRatio = kDefaultMinRatio;
  // Some line of the file must match (searched line by line).
  std::optional<Pattern> expect;
};

struct FetchedFacts {
  std::uint64_t bytes = 0;
  std::optional<std::uint64_t> announced;  // the device's tsize
  std::optional<std::uint64_t> previous;   // size of the saved copy, when there is one
};

// Calls back with the file's bytes in order, piece by piece; false when
// the file could not be read.
using ContentReader = std::function<bool(const std::function<void(std::string_view)>&)>;

// Empty when the file may be stored, else why not ("refused: 0 bytes",
// "refused: 38% of the previous size", ...). read is only called when a
// pattern is set.
std::string RefusalReason(const FetchedFacts& facts, const ValidationRules& rules, const ContentReader& read);

// Whether some line of text (split at '\n', a trailing '\r' dropped)
// matches; lines longer than 64 KiB are searched in their first 64 KiB.
class LineMatcher {
 public:
  explicit LineMatcher(const Pattern& pattern) : pattern_(pattern) {}
  void Feed(std::string_view bytes);
  bool Matched();  // call once, after the last piece

 private:
  void TryLine();
  const Pattern& pattern_;
  std::string line_;
  bool matched_ = false, overlong_ = false;
};

}  // namespace tarnwick::archive
