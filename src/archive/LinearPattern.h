// Our own regular-expression engine, for the build without RE2 (Windows):
// a pattern compiles to a small program of byte-class, split, jump and
// assertion instructions, and a search advances every live thread of that
// program together, one byte at a time (Thompson's construction). A thread
// that reaches an instruction another thread already holds at the same byte
// is dropped, so a search costs at most the text's length times the
// program's size, whatever the pattern, with no recursion on the text.
// Two shortcuts skip work without changing an answer: the bytes any match
// must contain are looked for first (memchr), and bytes no match can start
// with are stepped over while no thread is alive.
// Counted repeats are copies of their body: counts stop at 1000 and the
// program at kMaxInstructions, so a short pattern cannot ask for gigabytes.
// The syntax is Pattern.h's; the parse is LinearPatternParse.cpp.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::archive {

class LinearPattern {
 public:
  static constexpr std::size_t kMaxInstructions = 100000;
  static constexpr int kMaxRepeat = 1000;

  // False and `error` when `source` does not compile; `out` is then unchanged.
  static bool Compile(std::string_view source, LinearPattern& out, std::string& error);

  // Whether the pattern matches somewhere in `text`.
  bool Search(std::string_view text) const;
  // The leftmost-longest match's offsets; false when there is none.
  bool Find(std::string_view text, std::size_t& begin, std::size_t& end) const;

  enum class Op : std::uint8_t {
    kClass,
    kSplit,
    kJump,
    kMatch,
    kTextStart,
    kTextEnd,
    kWordEdge,
    kNotWordEdge
  };
  struct Instruction {
    Op op;
    std::uint32_t x = 0;  // kClass: index in classes; kSplit/kJump: target
    std::uint32_t y = 0;  // kSplit: second target
  };
  using ByteClass = std::bitset<256>;

 private:
  friend class LinearPatternCompiler;
  std::vector<Instruction> program_;
  std::vector<ByteClass> classes_;
  bool anchored_ = false;  // starts with ^: threads start at byte 0 only
  ByteClass first_;        // bytes a match can start with (all when it may be empty)
  // Every match contains one of each pair's bytes (-1: none; a literal, or
  // a letter in both cases).
  std::vector<std::array<int, 2>> needed_;
};

}  // namespace tarnwick::archive
