// The one regular-expression interface of the backup command: ignore rules,
// secret rules, --expect and the inventory's expect column all compile and
// search through it. Every engine behind it runs in time linear in the
// line's length whatever the pattern, and never recurses on the text: a rule
// written by anyone and a line sent by any device can neither hang nor crash
// a run. The native build uses RE2; the Windows build, which has no RE2,
// uses LinearPattern (our own automaton, checked against RE2 on one table).
//
// Syntax (both builds): RE2's, over bytes (Latin-1): literals, `.`, classes
// `[a-z]` `[^...]` `[[:digit:]]`, \d \w \s \D \W \S, \b \B, anchors ^ $ \A
// \z, groups (...) (?:...) (?P<name>...), alternation |, * + ? {m} {m,}
// {m,n} (counts up to 1000, lazy forms accepted), (?i) for case-blind
// matching. No backreferences and no look-around: they cannot be matched in
// linear time, and such a pattern is refused when it is compiled.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace tarnwick::archive {

class Pattern {
 public:
  // False and `error` (what is wrong, without the pattern itself) when
  // `source` does not compile; `out` is then unchanged.
  static bool Compile(std::string_view source, Pattern& out, std::string& error);

  // Whether the pattern matches somewhere in `text` (like grep on one line;
  // `$` anchors at the end of `text`). A default Pattern matches nothing.
  bool Search(std::string_view text) const;

  // The leftmost match, and of those starting there the longest: its
  // offsets in `text`. False when there is none.
  bool Find(std::string_view text, std::size_t& begin, std::size_t& end) const;

  const std::string& Source() const { return source_; }

  class Engine;  // per build: Pattern_posix.cpp, Pattern_win.cpp

 private:
  std::shared_ptr<const Engine> engine_;  // shared: a device's rules are copies of the command's
  std::string source_;
};

}  // namespace tarnwick::archive
