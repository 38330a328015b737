#include "archive/LinearPattern.h"

#include <cstring>

namespace tarnwick::archive {
namespace {

bool IsWordByte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// The threads alive at one position of the text: the class instructions
// waiting for the next byte, each at most once (`seen` holds the generation
// that last added an instruction, so nothing is cleared between bytes).
class ThreadList {
 public:
  ThreadList(const std::vector<LinearPattern::Instruction>& program, std::vector<std::uint32_t>& seen,
             std::vector<std::uint32_t>& stack)
      : program_(program), seen_(seen), stack_(stack) {}

  // Follows every jump, split and assertion from `pc` at `pos` of `text`;
  // true as soon as one path reaches kMatch.
  bool Add(std::uint32_t pc, std::size_t pos, std::string_view text, std::uint32_t generation,
           std::vector<std::uint32_t>& waiting) {
    using Op = LinearPattern::Op;
    stack_.clear();
    stack_.push_back(pc);
    while (!stack_.empty()) {
      const std::uint32_t at = stack_.back();
      stack_.pop_back();
      if (seen_[at] == generation) continue;
      seen_[at] = generation;
      const LinearPattern::Instruction& in = program_[at];
      switch (in.op) {
        case Op::kClass:
          waiting.push_back(at);
          break;
        case Op::kMatch:
          return true;
        case Op::kJump:
          stack_.push_back(in.x);
          break;
        case Op::kSplit:
          stack_.push_back(in.y);
          stack_.push_back(in.x);
          break;
        case Op::kTextStart:
          if (pos == 0) stack_.push_back(at + 1);
          break;
        case Op::kTextEnd:
          if (pos == text.size()) stack_.push_back(at + 1);
          break;
        case Op::kWordEdge:
        case Op::kNotWordEdge: {
          const bool before = pos > 0 && IsWordByte(static_cast<unsigned char>(text[pos - 1]));
          const bool after = pos < text.size() && IsWordByte(static_cast<unsigned char>(text[pos]));
          if ((before != after) == (in.op == Op::kWordEdge)) stack_.push_back(at + 1);
          break;
        }
      }
    }
    return false;
  }

 private:
  const std::vector<LinearPattern::Instruction>& program_;
  std::vector<std::uint32_t>& seen_;
  std::vector<std::uint32_t>& stack_;
};

// Whether text holds one of the two bytes.
bool Contains(std::string_view text, const std::array<int, 2>& bytes) {
  for (int b : bytes)
    if (b >= 0 && std::memchr(text.data(), b, text.size())) return true;
  return false;
}

}  // namespace

bool LinearPattern::Search(std::string_view text) const {
  if (program_.empty()) return false;
  for (const std::array<int, 2>& bytes : needed_)
    if (!Contains(text, bytes)) return false;
  std::vector<std::uint32_t> seen(program_.size(), 0), stack, now, next;
  ThreadList threads(program_, seen, stack);
  std::uint32_t generation = 1;
  for (std::size_t pos = 0;; ++pos) {
    if (now.empty()) {
      if (anchored_ && pos > 0) return false;
      const std::size_t from = pos;
      while (pos < text.size() && !first_[static_cast<unsigned char>(text[pos])]) ++pos;
      // Marks of the closure at `from` must not hide instructions at `pos`.
      if (pos != from) ++generation;
    }
    // A match may start at any byte: a new thread from the start each time.
    if ((!anchored_ || pos == 0) && threads.Add(0, pos, text, generation, now)) return true;
    if (pos == text.size()) return false;
    const auto byte = static_cast<unsigned char>(text[pos]);
    ++generation;
    next.clear();
    for (std::uint32_t pc : now) {
      if (classes_[program_[pc].x][byte] && threads.Add(pc + 1, pos + 1, text, generation, next)) return true;
    }
    now.swap(next);
  }
}

// As Search, each thread carrying where its match began. Threads that began
// earlier come first in each list, so where two reach one instruction the
// earlier start wins (leftmost); threads of the same start all run on and
// the last kMatch they reach is the longest. Once a match is known, no
// thread starts later than it.
bool LinearPattern::Find(std::string_view text, std::size_t& begin, std::size_t& end) const {
  if (program_.empty()) return false;
  for (const std::array<int, 2>& bytes : needed_)
    if (!Contains(text, bytes)) return false;
  struct Thread {
    std::uint32_t pc;
    std::size_t start;
  };
  std::vector<std::uint32_t> seen(program_.size(), 0);
  std::vector<Thread> now, next, stack;
  std::uint32_t generation = 1;
  std::size_t bestStart = std::string_view::npos, bestEnd = 0;
  auto add = [&](Thread from, std::size_t pos, std::vector<Thread>& list) {
    stack.clear();
    stack.push_back(from);
    while (!stack.empty()) {
      const Thread t = stack.back();
      stack.pop_back();
      if (seen[t.pc] == generation) continue;
      seen[t.pc] = generation;
      const Instruction& in = program_[t.pc];
      const std::uint32_t after = t.pc + 1;
      switch (in.op) {
        case Op::kClass:
          list.push_back(t);
          break;
        case Op::kMatch:
          if (t.start < bestStart || (t.start == bestStart && pos > bestEnd))
            bestStart = t.start, bestEnd = pos;
          break;
        case Op::kJump:
          stack.push_back({in.x, t.start});
          break;
        case Op::kSplit:
          stack.push_back({in.y, t.start});
          stack.push_back({in.x, t.start});
          break;
        case Op::kTextStart:
          if (pos == 0) stack.push_back({after, t.start});
          break;
        case Op::kTextEnd:
          if (pos == text.size()) stack.push_back({after, t.start});
          break;
        case Op::kWordEdge:
        case Op::kNotWordEdge: {
          const bool before = pos > 0 && IsWordByte(static_cast<unsigned char>(text[pos - 1]));
          const bool ahead = pos < text.size() && IsWordByte(static_cast<unsigned char>(text[pos]));
          if ((before != ahead) == (in.op == Op::kWordEdge)) stack.push_back({after, t.start});
          break;
        }
      }
    }
  };
  for (std::size_t pos = 0;; ++pos) {
    const bool found = bestStart != std::string_view::npos;
    if (now.empty()) {
      if (found || (anchored_ && pos > 0)) break;
      const std::size_t from = pos;
      while (pos < text.size() && !first_[static_cast<unsigned char>(text[pos])]) ++pos;
      if (pos != from) ++generation;
    }
    if (!found && (!anchored_ || pos == 0)) add({0, pos}, pos, now);
    if (pos == text.size()) break;
    const auto byte = static_cast<unsigned char>(text[pos]);
    ++generation;
    next.clear();
    for (const Thread& t : now)
      if (t.start <= bestStart && classes_[program_[t.pc].x][byte]) add({t.pc + 1, t.start}, pos + 1, next);
    now.swap(next);
  }
  if (bestStart == std::string_view::npos) return false;
  begin = bestStart;
  end = bestEnd;
  return true;
}

}  // namespace tarnwick::archive
