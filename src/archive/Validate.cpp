#include "archive/Validate.h"

#include <cmath>

namespace tarnwick::archive {

namespace {
constexpr std::size_t kMaxLine = 64 * 1024;
}

void LineMatcher::TryLine() {
  if (!matched_) {
    std::string_view line(line_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    matched_ = pattern_.Search(line);
  }
  line_.clear();
  overlong_ = false;
}

void LineMatcher::Feed(std::string_view bytes) {
  while (!bytes.empty() && !matched_) {
    const std::size_t end = bytes.find('\n');
    std::string_view piece = bytes.substr(0, end);
    if (!overlong_) {
      const std::size_t room = kMaxLine - line_.size();
      line_.append(piece.substr(0, room));
      overlong_ = piece.size() >= room;
    }
    if (end == std::string_view::npos) return;
    TryLine();
    bytes.remove_prefix(end + 1);
  }
}

bool LineMatcher::Matched() {
  if (!line_.empty()) TryLine();
  return matched_;
}

std::string RefusalReason(const FetchedFacts& facts, const ValidationRules& rules,
                          const ContentReader& read) {
  if (facts.announced && *facts.announced != facts.bytes)
    return "refused: " + std::to_string(facts.bytes) + " bytes arrived, the device announced " +
           std::to_string(*facts.announced) + " (tsize)";
  if (facts.bytes == 0) return "refused: 0 bytes";
  if (facts.previous && *facts.previous > 0 && rules.minRatio > 0 &&
      static_cast<double>(facts.bytes) < rules.minRatio * static_cast<double>(*facts.previous)) {
    const auto percent = static_cast<long long>(
        std::floor(100.0 * static_cast<double>(facts.bytes) / static_cast<double>(*facts.previous)));
    return "refused: " + std::to_string(percent) + "% of the previous size";
  }
  if (rules.expect) {
    LineMatcher matcher(*rules.expect);
    if (!read([&](std::string_view bytes) { matcher.Feed(bytes); }))
      return "cannot read the new copy to check it";
    if (!matcher.Matched()) return "refused: does not match the expected pattern";
  }
  return {};
}

}  // namespace tarnwick::archive
