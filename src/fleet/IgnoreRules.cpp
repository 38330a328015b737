#include "fleet/IgnoreRules.h"

namespace tarnwick::fleet {
namespace {

// The next line of `text` from `pos`, with its line break; empty at the end.
std::string_view NextLine(std::string_view text, std::size_t& pos) {
  if (pos >= text.size()) return {};
  std::size_t end = text.find('\n', pos);
  end = end == std::string_view::npos ? text.size() : end + 1;
  std::string_view line = text.substr(pos, end - pos);
  pos = end;
  return line;
}

// What the rules see: the line without "\n" or "\r\n", so `$` anchors at
// the end of the text whichever line breaks the device uses.
std::string_view Content(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// The next line the rules keep, or empty at the end.
std::string_view NextKeptLine(std::string_view text, std::size_t& pos, const IgnoreRuleList& rules) {
  for (;;) {
    std::string_view line = NextLine(text, pos);
    if (line.empty() || !IsIgnoredLine(Content(line), rules)) return line;
  }
}

bool ValidSetName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
              c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

std::string_view Trimmed(std::string_view text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

bool CompileIgnoreRule(const std::string& source, IgnoreRule& rule, std::string& error) {
  if (source.empty()) {
    error = "ignore rule \"\" is empty: it would ignore every line";
    return false;
  }
  std::string why;
  if (!archive::Pattern::Compile(source, rule.pattern, why)) {
    error = "ignore rule \"" + source + "\" does not compile: " + why;
    return false;
  }
  rule.source = source;
  return true;
}

bool CompileIgnoreRules(const std::vector<std::string>& sources, IgnoreRuleList& rules, std::string& error) {
  for (const std::string& source : sources) {
    IgnoreRule rule;
    if (!CompileIgnoreRule(source, rule, error)) return false;
    rules.push_back(std::move(rule));
  }
  return true;
}

bool ParseIgnoreFile(std::string_view text, IgnoreFile& file, std::string& error) {
  // Windows editors like to start a UTF-8 file with a byte order mark.
  std::size_t pos = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  int lineNumber = 0;
  IgnoreRuleList* current = nullptr;
  std::string currentName;
  for (std::string_view line = NextLine(text, pos); !line.empty(); line = NextLine(text, pos)) {
    ++lineNumber;
    const std::string where = "ignore file line " + std::to_string(lineNumber) + ": ";
    std::string_view content = Content(line);
    std::string_view trimmed = Trimmed(content);
    if (trimmed.empty() || trimmed.front() == '#') continue;
    if (trimmed.front() == '[' && trimmed.back() == ']') {
      std::string_view name = trimmed.substr(1, trimmed.size() - 2);
      if (!ValidSetName(name)) {
        error = where + "set name \"" + std::string(name) + "\" may hold only letters, digits, '_', '-', '.'";
        return false;
      }
      currentName = std::string(name);
      current = &file.sets[currentName];  // a repeated header adds to its set
      continue;
    }
    if (!current) {
      error = where + "rule before the first [set] header";
      return false;
    }
    IgnoreRule rule;
    std::string why;
    if (!CompileIgnoreRule(std::string(content), rule, why)) {
      error = where + "[" + currentName + "] " + why;
      return false;
    }
    current->push_back(std::move(rule));
  }
  return true;
}

bool IsIgnoredLine(std::string_view line, const IgnoreRuleList& rules) {
  for (const IgnoreRule& rule : rules)
    if (rule.pattern.Search(line)) return true;
  return false;
}

std::string WithoutIgnoredLines(std::string_view text, const IgnoreRuleList& rules) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (std::string_view line = NextKeptLine(text, pos, rules); !line.empty();
       line = NextKeptLine(text, pos, rules)) {
    out += line;
  }
  return out;
}

bool Equivalent(std::string_view a, std::string_view b, const IgnoreRuleList& rules,
                const std::function<bool()>& stop) {
  if (a == b) return true;
  if (rules.empty()) return false;
  // Equal lines are dropped from both copies or kept in both, so only lines
  // that differ go through the rules: a nightly copy that differs in its
  // time stamp costs two matches, not two thousand.
  std::size_t posA = 0, posB = 0;
  std::string_view lineA = NextLine(a, posA), lineB = NextLine(b, posB);
  bool keptA = false;  // lineA already matched and kept
  for (std::size_t step = 1; !lineA.empty() || !lineB.empty(); ++step) {
    if (step % 4096 == 0 && stop && stop()) return false;
    if (lineA == lineB) {
      lineA = NextLine(a, posA);
      lineB = NextLine(b, posB);
      keptA = false;
    } else if (!keptA && !lineA.empty() && IsIgnoredLine(Content(lineA), rules)) {
      lineA = NextLine(a, posA);
    } else if (!lineB.empty() && IsIgnoredLine(Content(lineB), rules)) {
      keptA = true;
      lineB = NextLine(b, posB);
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace tarnwick::fleet
