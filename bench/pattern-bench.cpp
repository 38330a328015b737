// What ten hostile rules cost on hostile 1 MB configurations, with each
// engine: Pattern (RE2 on the native build, LinearPattern on Windows) and
// LinearPattern itself. Every rule is tried on every line (the cost of
// checking a copy whose every line changed); the --expect search runs over
// the same text. Prints CPU milliseconds per case and engine; not a test.
// Usage: tarnwick-pattern-bench [rounds]     (run under Wine for Windows)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "archive/LinearPattern.h"
#include "archive/Pattern.h"

namespace {

using namespace tarnwick;

const char* const kRules[] = {
    "^ description (\\w+\\s?)*$",
    "^(a+)+$",
    "(a|aa)*c$",
    "(x+x+)+y",
    "(.*a){20}z",
    ".*hostname",
    "^(\\w|\\s)*@",
    "(a*)*b$",
    "[a-z]*[0-9]{10}x",
    "(?i)(secret|password)\\s+\\S+\\s+\\S+z",
};

struct Case {
  const char* name;
  std::string text;
};

std::string Repeated(const std::string& line, std::size_t total) {
  std::string text;
  while (text.size() + line.size() <= total) text += line;
  return text;
}

template <typename Engine>
double Milliseconds(const std::vector<Engine>& rules, const std::string& text, int rounds, int& hits) {
  const std::clock_t start = std::clock();  // CPU time: the machine may be shared
  for (int r = 0; r < rounds; ++r) {
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      const std::string_view line(text.data() + pos, end - pos);
      for (const Engine& rule : rules) hits += rule.Search(line) ? 1 : 0;
      pos = end + 1;
    }
  }
  return 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC / rounds;
}

template <typename Engine>
bool CompileAll(std::vector<Engine>& out) {
  for (const char* source : kRules) {
    std::string error;
    if (!Engine::Compile(source, out.emplace_back(), error)) {
      std::fprintf(stderr, "%s: %s\n", source, error.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const std::size_t mb = 1 << 20;
  const Case cases[] = {
      {"16k description lines of 64 B", Repeated(" description " + std::string(49, 'x') + "!\n", mb)},
      // Every byte the rules need is there, so none is ruled out by a scan.
      {"16k lines with the needed bytes",
       Repeated("z-@ hostnam e b c xy " + std::string(40, 'a') + "!\n", mb)},
      {"one 1 MB line", std::string(mb - 1, 'a') + "!"},
      {"10^5 lines of 10 B", Repeated("aaaaaaaaa\n", 1'000'000)},
  };
  std::vector<archive::Pattern> patterns;
  std::vector<archive::LinearPattern> linear;
  if (!CompileAll(patterns) || !CompileAll(linear)) return 2;
  std::printf("%-32s %14s %14s\n", "ten hostile rules over", "Pattern ms", "LinearPattern ms");
  for (const Case& c : cases) {
    int hits = 0;
    const double a = Milliseconds(patterns, c.text, rounds, hits);
    const double b = Milliseconds(linear, c.text, rounds, hits);
    std::printf("%-32s %14.1f %14.1f  (%d matches)\n", c.name, a, b, hits);
  }
  return 0;
}
