// What changed in a device's configuration, as a person reads it in the
// morning: a unified diff (three lines of context, "--- a/NAME" and
// "+++ b/NAME" headers, @@ hunks) of the saved copy against the new one.
// Line-based: Myers' shortest edit script over line numbers, with a bound
// on the edit distance so memory stays small whatever a device sends.
// The caller scrubs passwords; ignore rules hide changes (HiddenChange).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tarnwick::archive {

struct DiffLimits {
  // Either copy larger than this is not compared line by line.
  std::size_t maxBytes = 8u << 20;
  // More inserted plus deleted lines than this are not listed: the search
  // keeps about D^2 numbers at distance D, 4 MB at 1000.
  std::size_t maxChangedLines = 1000;
  // Lines compared along the search's diagonals: bounds the time a
  // pathological pair (long repeats shifted against each other) can take
  // to a fraction of a second.
  std::size_t maxSteps = 100'000'000;
};

// A changed line (without its line break) whose change alone is not worth
// showing: a volatile line the ignore rules drop.
using HiddenChange = std::function<bool(std::string_view line)>;

// Empty when the texts are equal. When a limit is passed the whole diff is
// one line: "files differ (more than 1000 lines changed)", "files differ
// (too large to compare: 9000000 and 12 bytes)" or "files differ (too many
// changes to list)". A last line without its line break is marked
// "\ No newline at end of file".
//
// A hunk whose every changed line is hidden is left out; the others keep
// the files' own line numbers and all their lines, so the diff still
// applies as a patch. Empty when every change is hidden. (Only the
// changed lines are matched: a whole config through the rules costs a
// thousand times more.)
std::string UnifiedDiff(std::string_view before, std::string_view after, const std::string& name,
                        const DiffLimits& limits = {}, const HiddenChange& hidden = {});

}  // namespace tarnwick::archive
