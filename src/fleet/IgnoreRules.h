// Lines that change every night without meaning anything (a "last
// configuration change" stamp, an NTP clock period, uptime) and must not make
// a device "changed". Rules are regular expressions (Pattern.h: linear
// time, RE2's syntax), searched anywhere in a line (like grep): a line any
// rule finds is dropped from both copies before they are compared.
//
// They come from --ignore REGEX (repeatable) and from named sets of an
// ignore file:
//
//   # Cisco IOS
//   [ios]
//   ^! Last configuration change at
//   ^ntp clock-period
//
// `[name]` starts a set (name: letters, digits, '_', '-', '.'); every other
// line that is not blank and does not start with '#' (after blanks) is one
// rule of the set above it, taken as written (a rule that looks like a
// header, "[abc]", is written "(?:[abc])").
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Pattern.h"

namespace tarnwick::fleet {

struct IgnoreRule {
  std::string source;  // as the user wrote it, for messages
  archive::Pattern pattern;
};

using IgnoreRuleList = std::vector<IgnoreRule>;

// Compiles one rule; false and `error` naming the rule and what is wrong
// when it does not compile (or is empty: it would drop every line).
bool CompileIgnoreRule(const std::string& source, IgnoreRule& rule, std::string& error);

// Compiles every --ignore REGEX; stops at the first that does not compile.
bool CompileIgnoreRules(const std::vector<std::string>& sources, IgnoreRuleList& rules, std::string& error);

struct IgnoreFile {
  std::map<std::string, IgnoreRuleList> sets;
};

// Reads an ignore file's text; false and `error` with the line number on the
// first fault (a rule before any [set], a bad set name, a rule that does not
// compile).
bool ParseIgnoreFile(std::string_view text, IgnoreFile& file, std::string& error);

// True when `line` (without its line break) is dropped by one of the rules.
bool IsIgnoredLine(std::string_view line, const IgnoreRuleList& rules);

// The text without the lines the rules drop, every other byte kept.
std::string WithoutIgnoredLines(std::string_view text, const IgnoreRuleList& rules);

// The two copies are the same once the rules have dropped their lines (line
// breaks included: CRLF against LF is a change). `stop` is asked every few
// thousand lines; when it says yes the answer is "not the same" (the copy
// is then kept as changed, never lost).
bool Equivalent(std::string_view a, std::string_view b, const IgnoreRuleList& rules,
                const std::function<bool()>& stop = {});

}  // namespace tarnwick::fleet
