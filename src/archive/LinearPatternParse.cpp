// The parse of LinearPattern: the pattern's text to a tree, the tree to the
// program. Nesting is bounded (kMaxDepth) so a pattern of ten thousand
// parentheses is refused instead of recursing off the stack.
#include <memory>

#include "archive/LinearPattern.h"

namespace tarnwick::archive {
namespace {

constexpr int kMaxDepth = 200;
using ByteClass = LinearPattern::ByteClass;

struct Node {
  enum Kind { kEmpty, kClass, kConcat, kAlternate, kRepeat, kAssert } kind = kEmpty;
  ByteClass bytes;                // kClass
  LinearPattern::Op assertion{};  // kAssert
  int min = 0, max = -1;          // kRepeat; -1: no upper bound
  std::vector<Node> parts;        // kConcat, kAlternate; kRepeat: its one body
};

ByteClass Range(unsigned char first, unsigned char last) {
  ByteClass c;
  for (unsigned v = first; v <= last; ++v) c.set(v);
  return c;
}

ByteClass Named(char letter) {  // \d \w \s and their negations
  ByteClass c;
  switch (letter | 0x20) {
    case 'd':
      c = Range('0', '9');
      break;
    case 'w':
      c = Range('0', '9') | Range('a', 'z') | Range('A', 'Z') | Range('_', '_');
      break;
    default:  // 's': RE2's \s, without \v
      for (char s : {'\t', '\n', '\f', '\r', ' '}) c.set(static_cast<unsigned char>(s));
  }
  return letter >= 'A' && letter <= 'Z' ? ~c : c;
}

// Both cases of every ASCII letter in c.
ByteClass Folded(ByteClass c) {
  for (unsigned v = 'a'; v <= 'z'; ++v) {
    if (c.test(v) || c.test(v - 32)) {
      c.set(v);
      c.set(v - 32);
    }
  }
  return c;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  bool Parse(Node& root, std::string& error) {
    root = Alternation(0);
    if (error_.empty() && pos_ < text_.size()) error_ = "unexpected ) at offset " + std::to_string(pos_);
    error = error_;
    return error_.empty();
  }

 private:
  bool Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
  }
  bool More() const { return error_.empty() && pos_ < text_.size(); }
  char Peek() const { return text_[pos_]; }

  Node Alternation(int depth) {
    if (depth > kMaxDepth) {
      Fail("groups nested more than " + std::to_string(kMaxDepth) + " deep");
      return {};
    }
    Node alt;
    alt.kind = Node::kAlternate;
    alt.parts.push_back(Concatenation(depth));
    while (More() && Peek() == '|') {
      ++pos_;
      alt.parts.push_back(Concatenation(depth));
    }
    return alt.parts.size() == 1 ? std::move(alt.parts[0]) : alt;
  }

  Node Concatenation(int depth) {
    Node cat;
    cat.kind = Node::kConcat;
    while (More() && Peek() != '|' && Peek() != ')') {
      if (text_.substr(pos_, 4) == "(?i)") {  // case-blind to the end of the group
        pos_ += 4;
        fold_ = true;
        continue;
      }
      Node atom = Atom(depth);
      if (!error_.empty()) break;
      Quantified(atom);
      cat.parts.push_back(std::move(atom));
    }
    return cat;
  }

  // Reads a count "{m}", "{m,}", "{m,n}" at pos_; false (pos_ unchanged)
  // when the brace is not one, as RE2 then takes it literally.
  bool Count(int& min, int& max) {
    std::size_t at = pos_ + 1;
    auto number = [&](int& out) {
      std::size_t start = at;
      long long v = 0;
      while (at < text_.size() && text_[at] >= '0' && text_[at] <= '9' && at - start < 9)
        v = v * 10 + (text_[at++] - '0');
      out = static_cast<int>(v);
      return at > start;
    };
    if (!number(min)) return false;
    max = min;
    if (at < text_.size() && text_[at] == ',') {
      ++at;
      if (!number(max)) max = -1;
    }
    if (at >= text_.size() || text_[at] != '}') return false;
    pos_ = at + 1;
    return true;
  }

  void Quantified(Node& atom) {
    if (!More()) return;
    int min = 0, max = -1;
    const char q = Peek();
    if (q == '*' || q == '+' || q == '?') {
      ++pos_;
      min = q == '+' ? 1 : 0;
      max = q == '?' ? 1 : -1;
    } else if (q != '{' || !Count(min, max)) {
      return;
    } else if (min > LinearPattern::kMaxRepeat || max > LinearPattern::kMaxRepeat ||
               (max >= 0 && max < min)) {
      Fail("bad repetition count (at most " + std::to_string(LinearPattern::kMaxRepeat) + ", and m <= n)");
      return;
    }
    if (More() && Peek() == '?') ++pos_;  // lazy: the same set of matches
    int ignoredMin = 0, ignoredMax = 0;
    const std::size_t at = pos_;
    if (More() && (Peek() == '*' || Peek() == '+' || Peek() == '?' ||
                   (Peek() == '{' && Count(ignoredMin, ignoredMax)))) {
      pos_ = at;
      Fail("bad repetition operator at offset " + std::to_string(pos_));
      return;
    }
    Node repeat;
    repeat.kind = Node::kRepeat;
    repeat.min = min;
    repeat.max = max;
    repeat.parts.push_back(std::move(atom));
    atom = std::move(repeat);
  }

  Node Leaf(const ByteClass& bytes) {
    Node n;
    n.kind = Node::kClass;
    n.bytes = fold_ ? Folded(bytes) : bytes;
    return n;
  }
  Node Assert(LinearPattern::Op op) {
    Node n;
    n.kind = Node::kAssert;
    n.assertion = op;
    return n;
  }

  Node Group(int depth) {
    ++pos_;  // '('
    if (text_.substr(pos_, 2) == "?:") {
      pos_ += 2;
    } else if (text_.substr(pos_, 3) == "?P<") {
      const std::size_t close = text_.find('>', pos_);
      if (close == std::string_view::npos) {
        Fail("unterminated group name");
        return {};
      }
      pos_ = close + 1;
    } else if (text_.substr(pos_, 3) == "?i:") {
      pos_ += 3;
      const bool outer = fold_;
      fold_ = true;
      Node inner = Closed(depth);
      fold_ = outer;
      return inner;
    } else if (pos_ < text_.size() && text_[pos_] == '?') {
      Fail("unsupported group (?" + std::string(text_.substr(pos_ + 1, 1)) +
           ": no look-around, flags other than i, or backreferences)");
      return {};
    }
    const bool outer = fold_;
    Node inner = Closed(depth);
    fold_ = outer;
    return inner;
  }
  Node Closed(int depth) {
    Node inner = Alternation(depth + 1);
    if (error_.empty() && (pos_ >= text_.size() || Peek() != ')')) Fail("missing )");
    ++pos_;
    return inner;
  }

  // One escaped byte or class after '\' (pos_ on the letter); false on a
  // sequence that is not one (outside a class also \b \B \A \z, done by Atom).
  bool Escape(ByteClass& out) {
    if (pos_ >= text_.size()) return Fail("trailing \\");
    const char c = text_[pos_++];
    switch (c) {
      case 'd':
      case 'D':
      case 'w':
      case 'W':
      case 's':
      case 'S':
        out = Named(c);
        return true;
      case 'n':
        out = Range('\n', '\n');
        return true;
      case 'r':
        out = Range('\r', '\r');
        return true;
      case 't':
        out = Range('\t', '\t');
        return true;
      case 'f':
        out = Range('\f', '\f');
        return true;
      case 'v':
        out = Range('\v', '\v');
        return true;
      case 'x': {
        const bool braced = pos_ < text_.size() && text_[pos_] == '{';
        const std::size_t start = pos_ + (braced ? 1 : 0);
        std::size_t end = braced ? text_.find('}', start) : start + 2;
        if (end == std::string_view::npos || end > text_.size() || end == start || end - start > 2)
          return Fail("bad \\x escape (one byte: \\x41 or \\x{41})");
        unsigned value = 0;
        for (std::size_t k = start; k < end; ++k) {
          const char h = text_[k];
          const int digit = h >= '0' && h <= '9'                     ? h - '0'
                            : (h | 0x20) >= 'a' && (h | 0x20) <= 'f' ? (h | 0x20) - 'a' + 10
                                                                     : -1;
          if (digit < 0) return Fail("bad \\x escape (one byte: \\x41 or \\x{41})");
          value = value * 16 + static_cast<unsigned>(digit);
        }
        pos_ = end + (braced ? 1 : 0);
        out = Range(static_cast<unsigned char>(value), static_cast<unsigned char>(value));
        return true;
      }
      default:
        // Escaped punctuation is itself; an escaped letter or digit we do
        // not know (a backreference \1, \p{...}) is an error, never a guess.
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
            static_cast<unsigned char>(c) >= 0x80)
          return Fail(std::string("invalid escape \\") + c);
        out = Range(static_cast<unsigned char>(c), static_cast<unsigned char>(c));
        return true;
    }
  }

  bool PosixClass(ByteClass& out) {  // pos_ on "[:"
    static const struct {
      const char* name;
      ByteClass (*make)();
    } kNames[] = {
        {"alpha", [] { return Range('a', 'z') | Range('A', 'Z'); }},
        {"digit", [] { return Range('0', '9'); }},
        {"alnum", [] { return Range('a', 'z') | Range('A', 'Z') | Range('0', '9'); }},
        {"upper", [] { return Range('A', 'Z'); }},
        {"lower", [] { return Range('a', 'z'); }},
        {"space", [] { return Range('\t', '\r') | Range(' ', ' '); }},
        {"blank", [] { return Range('\t', '\t') | Range(' ', ' '); }},
        {"xdigit", [] { return Range('0', '9') | Range('a', 'f') | Range('A', 'F'); }},
        {"punct", [] { return Range('!', '/') | Range(':', '@') | Range('[', '`') | Range('{', '~'); }},
        {"print", [] { return Range(' ', '~'); }},
        {"word", [] { return Named('w'); }},
    };
    const std::size_t close = text_.find(":]", pos_ + 2);
    if (close == std::string_view::npos) return false;
    std::string_view name = text_.substr(pos_ + 2, close - pos_ - 2);
    const bool negated = !name.empty() && name[0] == '^';
    if (negated) name.remove_prefix(1);
    for (const auto& n : kNames) {
      if (name == n.name) {
        out = negated ? ~n.make() : n.make();
        pos_ = close + 2;
        return true;
      }
    }
    return Fail("unknown class [:" + std::string(name) + ":]");
  }

  Node Class() {
    ++pos_;  // '['
    const bool negated = pos_ < text_.size() && text_[pos_] == '^';
    if (negated) ++pos_;
    ByteClass set;
    bool first = true;
    for (;;) {
      if (pos_ >= text_.size()) {
        Fail("missing ]");
        return {};
      }
      if (text_[pos_] == ']' && !first) break;
      first = false;
      ByteClass item;
      int low = -1;  // the item is one byte that may start a range
      if (text_.substr(pos_, 2) == "[:") {
        if (!PosixClass(item)) {
          if (!error_.empty()) return {};
          low = static_cast<unsigned char>(text_[pos_++]);
        }
      } else if (text_[pos_] == '\\') {
        ++pos_;
        const char letter = pos_ < text_.size() ? text_[pos_] : 0;
        if (!Escape(item)) return {};
        if (item.count() == 1 && !(letter == 'd' || letter == 'w' || letter == 's'))
          for (unsigned v = 0; v < 256; ++v)
            if (item.test(v)) low = static_cast<int>(v);
      } else {
        low = static_cast<unsigned char>(text_[pos_++]);
      }
      if (low >= 0 && pos_ + 1 < text_.size() && text_[pos_] == '-' && text_[pos_ + 1] != ']') {
        ++pos_;
        int high = static_cast<unsigned char>(text_[pos_]);
        if (text_[pos_] == '\\') {
          ++pos_;
          ByteClass end;
          if (!Escape(end)) return {};
          if (end.count() != 1) {
            Fail("bad character class range");
            return {};
          }
          for (unsigned v = 0; v < 256; ++v)
            if (end.test(v)) high = static_cast<int>(v);
        } else {
          ++pos_;
        }
        if (high < low) {
          Fail("bad character class range");
          return {};
        }
        item = Range(static_cast<unsigned char>(low), static_cast<unsigned char>(high));
      } else if (low >= 0) {
        item = Range(static_cast<unsigned char>(low), static_cast<unsigned char>(low));
      }
      set |= fold_ ? Folded(item) : item;
    }
    ++pos_;  // ']'
    Node n;
    n.kind = Node::kClass;
    // A negated class never matches a line break, as in RE2.
    n.bytes = negated ? ~set & ~Range('\n', '\n') : set;
    return n;
  }

  Node Atom(int depth) {
    const char c = Peek();
    switch (c) {
      case '(':
        return Group(depth);
      case '[':
        return Class();
      case '*':
      case '+':
      case '?':
        Fail(std::string("missing argument to repetition operator ") + c);
        return {};
      case '.':
        ++pos_;
        return Leaf(~Range('\n', '\n'));
      case '^':
        ++pos_;
        return Assert(LinearPattern::Op::kTextStart);
      case '$':
        ++pos_;
        return Assert(LinearPattern::Op::kTextEnd);
      case '\\': {
        const char next = pos_ + 1 < text_.size() ? text_[pos_ + 1] : 0;
        const struct {
          char letter;
          LinearPattern::Op op;
        } kAsserts[] = {{'b', LinearPattern::Op::kWordEdge},
                        {'B', LinearPattern::Op::kNotWordEdge},
                        {'A', LinearPattern::Op::kTextStart},
                        {'z', LinearPattern::Op::kTextEnd}};
        for (const auto& a : kAsserts) {
          if (next == a.letter) {
            pos_ += 2;
            return Assert(a.op);
          }
        }
        ++pos_;
        ByteClass bytes;
        if (!Escape(bytes)) return {};
        return Leaf(bytes);
      }
      default:
        ++pos_;
        return Leaf(Range(static_cast<unsigned char>(c), static_cast<unsigned char>(c)));
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  bool fold_ = false;
  std::string error_;
};

}  // namespace

// The tree to instructions; a friend of LinearPattern.
class LinearPatternCompiler {
 public:
  explicit LinearPatternCompiler(LinearPattern& out) : out_(out) {}

  bool Emit(const Node& n) {
    using Op = LinearPattern::Op;
    if (out_.program_.size() > LinearPattern::kMaxInstructions) return false;
    switch (n.kind) {
      case Node::kEmpty:
        return true;
      case Node::kClass:
        out_.program_.push_back({Op::kClass, static_cast<std::uint32_t>(out_.classes_.size())});
        out_.classes_.push_back(n.bytes);
        return true;
      case Node::kAssert:
        out_.program_.push_back({n.assertion});
        return true;
      case Node::kConcat:
        for (const Node& part : n.parts)
          if (!Emit(part)) return false;
        return true;
      case Node::kAlternate: {
        // split L1, next; L1: a; jump end; next: split L2, ... ; last
        std::vector<std::size_t> jumps;
        for (std::size_t i = 0; i < n.parts.size(); ++i) {
          std::size_t split = 0;
          if (i + 1 < n.parts.size()) {
            split = Add(Op::kSplit);
            out_.program_[split].x = Here();
          }
          if (!Emit(n.parts[i])) return false;
          if (i + 1 < n.parts.size()) {
            jumps.push_back(Add(Op::kJump));
            out_.program_[split].y = Here();
          }
        }
        for (std::size_t j : jumps) out_.program_[j].x = Here();
        return true;
      }
      case Node::kRepeat: {
        const Node& body = n.parts[0];
        for (int i = 0; i < n.min; ++i)
          if (!Emit(body)) return false;
        if (n.max < 0) {  // loop: split body, out; body; jump loop
          const std::size_t loop = Add(Op::kSplit);
          out_.program_[loop].x = Here();
          if (!Emit(body)) return false;
          out_.program_[Add(Op::kJump)].x = static_cast<std::uint32_t>(loop);
          out_.program_[loop].y = Here();
          return true;
        }
        std::vector<std::size_t> splits;  // each optional copy may end the repeat
        for (int i = n.min; i < n.max; ++i) {
          splits.push_back(Add(Op::kSplit));
          out_.program_[splits.back()].x = Here();
          if (!Emit(body)) return false;
        }
        for (std::size_t s : splits) out_.program_[s].y = Here();
        return true;
      }
    }
    return false;
  }

  // Bytes every match of n contains (one class per such byte), from its
  // literals outside alternations and optional parts.
  static void Needed(const Node& n, std::vector<ByteClass>& out) {
    if (out.size() >= 8) return;
    if (n.kind == Node::kClass && n.bytes.count() <= 2) {
      for (const ByteClass& c : out)
        if (c == n.bytes) return;
      out.push_back(n.bytes);
    } else if (n.kind == Node::kConcat || (n.kind == Node::kRepeat && n.min > 0)) {
      for (const Node& part : n.parts) Needed(part, out);
    }
  }

  // The bytes a match can start with: the classes reachable from the start
  // without consuming a byte (assertions taken as passable); every byte
  // when the match may be empty.
  void First() {
    using Op = LinearPattern::Op;
    std::vector<bool> seen(out_.program_.size(), false);
    std::vector<std::uint32_t> stack{0};
    while (!stack.empty()) {
      const std::uint32_t at = stack.back();
      stack.pop_back();
      if (seen[at]) continue;
      seen[at] = true;
      const LinearPattern::Instruction& in = out_.program_[at];
      switch (in.op) {
        case Op::kClass:
          out_.first_ |= out_.classes_[in.x];
          break;
        case Op::kMatch:
          out_.first_.set();
          return;
        case Op::kJump:
          stack.push_back(in.x);
          break;
        case Op::kSplit:
          stack.push_back(in.x);
          stack.push_back(in.y);
          break;
        default:
          stack.push_back(at + 1);
      }
    }
  }

  std::size_t Add(LinearPattern::Op op) {
    out_.program_.push_back({op});
    return out_.program_.size() - 1;
  }
  std::uint32_t Here() const { return static_cast<std::uint32_t>(out_.program_.size()); }

 private:
  LinearPattern& out_;
};

bool LinearPattern::Compile(std::string_view source, LinearPattern& out, std::string& error) {
  Node root;
  if (!Parser(source).Parse(root, error)) return false;
  LinearPattern compiled;
  LinearPatternCompiler compiler(compiled);
  if (!compiler.Emit(root) || compiled.program_.size() > kMaxInstructions) {
    error =
        "pattern too large (its repeats unfold to more than " + std::to_string(kMaxInstructions) + " steps)";
    return false;
  }
  compiled.program_.push_back({Op::kMatch});
  compiled.anchored_ = compiled.program_[0].op == Op::kTextStart;
  compiler.First();
  std::vector<ByteClass> needed;
  LinearPatternCompiler::Needed(root, needed);
  for (const ByteClass& c : needed) {
    std::array<int, 2> bytes{-1, -1};
    for (int v = 0, found = 0; v < 256 && found < 2; ++v)
      if (c[static_cast<std::size_t>(v)]) bytes[static_cast<std::size_t>(found++)] = v;
    compiled.needed_.push_back(bytes);
  }
  out = std::move(compiled);
  return true;
}

}  // namespace tarnwick::archive
