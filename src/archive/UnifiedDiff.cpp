#include "archive/UnifiedDiff.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace tarnwick::archive {
namespace {

constexpr std::size_t kContext = 3;

// Lines with their line breaks, so "x" at the end of a file and "x\n"
// differ, as they do on disk.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    end = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return lines;
}

enum class Op : std::uint8_t { Equal, Delete, Insert };

struct Edit {
  Op op;
  std::size_t a;  // line of `before` (Equal, Delete)
  std::size_t b;  // line of `after` (Equal, Insert)
};

enum class Search { Found, TooManyChanges, TooCostly };

// Myers' greedy search for the shortest edit script between a and b (line
// ids), within the limits' distance and steps; appends the edits in order.
// trace[d] keeps the furthest x on each diagonal -d..d after step d, which
// is what walking back needs.
Search ShortestEdit(const std::vector<int>& a, const std::vector<int>& b, std::size_t offset,
                    const DiffLimits& limits, std::vector<Edit>& edits) {
  const auto n = static_cast<std::int64_t>(a.size()), m = static_cast<std::int64_t>(b.size());
  const std::int64_t limit = std::min<std::int64_t>(static_cast<std::int64_t>(limits.maxChangedLines), n + m);
  std::size_t steps = 0;
  std::vector<std::int64_t> v(2 * static_cast<std::size_t>(limit) + 3, 0);
  const std::int64_t mid = limit + 1;            // v[mid + k] is diagonal k
  std::vector<std::vector<std::int32_t>> trace;  // positions fit: maxBytes is capped below 2^31
  std::int64_t found = -1;
  for (std::int64_t d = 0; d <= limit && found < 0; ++d) {
    for (std::int64_t k = -d; k <= d; k += 2) {
      std::int64_t x =
          (k == -d || (k != d && v[mid + k - 1] < v[mid + k + 1])) ? v[mid + k + 1] : v[mid + k - 1] + 1;
      std::int64_t y = x - k;
      const std::int64_t start = x;
      while (x < n && y < m && a[x] == b[y]) ++x, ++y;
      steps += static_cast<std::size_t>(x - start) + 1;
      v[mid + k] = x;
      if (x >= n && y >= m) found = d;
    }
    trace.emplace_back(v.begin() + (mid - d), v.begin() + (mid + d + 1));
    if (found < 0 && steps > limits.maxSteps) return Search::TooCostly;
  }
  if (found < 0) return Search::TooManyChanges;

  auto line = [offset](std::int64_t i) { return offset + static_cast<std::size_t>(i); };
  std::vector<Edit> reversed;
  std::int64_t x = n, y = m;
  for (std::int64_t d = found; d > 0; --d) {
    const std::vector<std::int32_t>& prev = trace[d - 1];  // prev[j] is diagonal j - (d - 1)
    auto at = [&](std::int64_t k) { return prev[k + d - 1]; };
    const std::int64_t k = x - y;
    const std::int64_t prevK = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? k + 1 : k - 1;
    const std::int64_t prevX = at(prevK), prevY = prevX - prevK;
    while (x > prevX && y > prevY) {
      --x, --y;
      reversed.push_back({Op::Equal, line(x), line(y)});
    }
    if (x == prevX) {
      --y;
      reversed.push_back({Op::Insert, 0, line(y)});
    } else {
      --x;
      reversed.push_back({Op::Delete, line(x), 0});
    }
  }
  while (x > 0 && y > 0) {
    --x, --y;
    reversed.push_back({Op::Equal, line(x), line(y)});
  }
  edits.insert(edits.end(), reversed.rbegin(), reversed.rend());
  return Search::Found;
}

std::string Range(std::size_t before, std::size_t count) {
  // An empty range names the line after which it sits.
  std::size_t start = count == 0 ? before : before + 1;
  return count == 1 ? std::to_string(start) : std::to_string(start) + "," + std::to_string(count);
}

void AppendLine(std::string& out, char mark, std::string_view line) {
  out += mark;
  out += line;
  if (line.empty() || line.back() != '\n') out += "\n\\ No newline at end of file\n";
}

bool Hidden(std::string_view line, const HiddenChange& hidden) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return hidden(line);
}

// True when one change of edits[changes[c..last]] is worth showing.
bool Shown(const std::vector<Edit>& edits, const std::vector<std::size_t>& changes, std::size_t c,
           std::size_t last, const std::vector<std::string_view>& a, const std::vector<std::string_view>& b,
           const HiddenChange& hidden) {
  if (!hidden) return true;
  for (; c <= last; ++c) {
    const Edit& e = edits[changes[c]];
    if (!Hidden(e.op == Op::Delete ? a[e.a] : b[e.b], hidden)) return true;
  }
  return false;
}

std::string Hunks(const std::vector<Edit>& edits, const std::vector<std::string_view>& a,
                  const std::vector<std::string_view>& b, const HiddenChange& hidden) {
  std::vector<std::size_t> changes;
  for (std::size_t i = 0; i < edits.size(); ++i) {
    if (edits[i].op != Op::Equal) changes.push_back(i);
  }
  std::string out;
  std::size_t aBefore = 0, bBefore = 0, cursor = 0;  // lines of each side before edits[cursor]
  for (std::size_t c = 0; c < changes.size();) {
    // One hunk: changes whose gaps of equal lines are short enough for the
    // two contexts to touch.
    std::size_t last = c;
    while (last + 1 < changes.size() && changes[last + 1] - changes[last] - 1 <= 2 * kContext) ++last;
    if (!Shown(edits, changes, c, last, a, b, hidden)) {
      c = last + 1;  // its lines are counted before the next hunk
      continue;
    }
    const std::size_t first = changes[c] >= kContext ? changes[c] - kContext : 0;
    const std::size_t end = std::min(edits.size(), changes[last] + 1 + kContext);
    for (; cursor < first; ++cursor) {
      if (edits[cursor].op != Op::Insert) ++aBefore;
      if (edits[cursor].op != Op::Delete) ++bBefore;
    }
    std::size_t aCount = 0, bCount = 0;
    std::string body;
    for (; cursor < end; ++cursor) {
      const Edit& e = edits[cursor];
      if (e.op == Op::Equal) AppendLine(body, ' ', a[e.a]);
      if (e.op == Op::Delete) AppendLine(body, '-', a[e.a]);
      if (e.op == Op::Insert) AppendLine(body, '+', b[e.b]);
      if (e.op != Op::Insert) ++aCount;
      if (e.op != Op::Delete) ++bCount;
    }
    out += "@@ -" + Range(aBefore, aCount) + " +" + Range(bBefore, bCount) + " @@\n" + body;
    aBefore += aCount;
    bBefore += bCount;
    c = last + 1;
  }
  return out;
}

}  // namespace

std::string UnifiedDiff(std::string_view before, std::string_view after, const std::string& name,
                        const DiffLimits& limits, const HiddenChange& hidden) {
  if (before == after) return {};
  const std::size_t maxBytes = std::min<std::size_t>(limits.maxBytes, std::size_t{1} << 30);
  if (before.size() > maxBytes || after.size() > maxBytes) {
    return "files differ (too large to compare: " + std::to_string(before.size()) + " and " +
           std::to_string(after.size()) + " bytes)\n";
  }
  const std::vector<std::string_view> a = SplitLines(before), b = SplitLines(after);
  // Equal lines share an id, so the search compares numbers, not text.
  std::unordered_map<std::string_view, int> ids;
  auto idsOf = [&ids](const std::vector<std::string_view>& lines) {
    std::vector<int> out;
    out.reserve(lines.size());
    for (std::string_view line : lines)
      out.push_back(ids.emplace(line, static_cast<int>(ids.size())).first->second);
    return out;
  };
  const std::vector<int> idA = idsOf(a), idB = idsOf(b);

  // Common head and tail cost nothing to find and are most of a config.
  std::size_t head = 0;
  while (head < idA.size() && head < idB.size() && idA[head] == idB[head]) ++head;
  std::size_t tail = 0;
  while (tail < idA.size() - head && tail < idB.size() - head &&
         idA[idA.size() - 1 - tail] == idB[idB.size() - 1 - tail])
    ++tail;

  std::vector<Edit> edits;
  for (std::size_t i = 0; i < head; ++i) edits.push_back({Op::Equal, i, i});
  const std::vector<int> midA(idA.begin() + head, idA.end() - tail),
      midB(idB.begin() + head, idB.end() - tail);
  // Every line one side holds more often than the other is one insertion
  // or deletion at least: past the limit, a rewritten config is known to
  // be "more than N lines" without searching (a thousand lines searched to
  // distance 1000 cost a million steps).
  std::vector<std::int64_t> surplus(ids.size(), 0);
  for (int id : midA) ++surplus[static_cast<std::size_t>(id)];
  for (int id : midB) --surplus[static_cast<std::size_t>(id)];
  std::uint64_t atLeast = 0;
  for (std::int64_t n : surplus) atLeast += static_cast<std::uint64_t>(n < 0 ? -n : n);
  if (atLeast > limits.maxChangedLines)
    return "files differ (more than " + std::to_string(limits.maxChangedLines) + " lines changed)\n";
  switch (ShortestEdit(midA, midB, head, limits, edits)) {
    case Search::Found:
      break;
    case Search::TooManyChanges:
      return "files differ (more than " + std::to_string(limits.maxChangedLines) + " lines changed)\n";
    case Search::TooCostly:
      return "files differ (too many changes to list)\n";
  }
  for (std::size_t i = tail; i > 0; --i) edits.push_back({Op::Equal, a.size() - i, b.size() - i});

  const std::string hunks = Hunks(edits, a, b, hidden);
  if (hunks.empty()) return hunks;
  // A line break in a name would forge a header or a hunk line.
  std::string label = name;
  for (char& c : label) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return "--- a/" + label + "\n+++ b/" + label + "\n" + hunks;
}

}  // namespace tarnwick::archive
