#include "archive/SecretMask.h"

#include <cstdio>
#include <random>

namespace tarnwick::archive {
namespace {

std::uint64_t Rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

// SipHash-2-4 of data under key (Aumasson and Bernstein's keyed hash).
std::uint64_t SipHash(const SecretMask::Key& key, std::string_view data) {
  std::uint64_t v0 = 0x736f6d6570736575ull ^ key[0], v1 = 0x646f72616e646f6dull ^ key[1];
  std::uint64_t v2 = 0x6c7967656e657261ull ^ key[0], v3 = 0x7465646279746573ull ^ key[1];
  auto round = [&] {
    v0 += v1, v1 = Rotl(v1, 13), v1 ^= v0, v0 = Rotl(v0, 32);
    v2 += v3, v3 = Rotl(v3, 16), v3 ^= v2;
    v0 += v3, v3 = Rotl(v3, 21), v3 ^= v0;
    v2 += v1, v1 = Rotl(v1, 17), v1 ^= v2, v2 = Rotl(v2, 32);
  };
  auto absorb = [&](std::uint64_t m) {
    v3 ^= m;
    round();
    round();
    v0 ^= m;
  };
  std::size_t i = 0;
  for (; i + 8 <= data.size(); i += 8) {
    std::uint64_t m = 0;
    for (int b = 7; b >= 0; --b) m = (m << 8) | static_cast<unsigned char>(data[i + b]);
    absorb(m);
  }
  std::uint64_t last = static_cast<std::uint64_t>(data.size()) << 56;
  for (std::size_t b = 0; i + b < data.size(); ++b)
    last |= std::uint64_t{static_cast<unsigned char>(data[i + b])} << (8 * b);
  absorb(last);
  v2 ^= 0xff;
  for (int r = 0; r < 4; ++r) round();
  return v0 ^ v1 ^ v2 ^ v3;
}

bool Blank(char c) { return c == ' ' || c == '\t'; }

struct Word {
  std::size_t begin, end;
};

std::vector<Word> Words(std::string_view line) {
  std::vector<Word> words;
  for (std::size_t i = 0; i < line.size();) {
    if (Blank(line[i])) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < line.size() && !Blank(line[i])) ++i;
    words.push_back({start, i});
  }
  return words;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool IsKeyword(const std::string& word) {
  static const char* const kWords[] = {"password",
                                       "secret",
                                       "key",
                                       "key-string",
                                       "pre-shared-key",
                                       "passphrase",
                                       "encrypted-password",
                                       "authentication-key",
                                       "md5",
                                       "auth-password"};
  for (const char* k : kWords)
    if (word == k) return true;
  return false;
}

// "0", "5", "7": the encryption type some syntaxes put before the value.
bool IsTypeNumber(std::string_view word) {
  return !word.empty() && word.size() <= 2 && word.find_first_not_of("0123456789") == std::string_view::npos;
}

// What follows "pre-shared-key" in some syntaxes before the key itself.
bool IsSelector(const std::string& word) {
  return word == "address" || word == "hostname" || word == "ipv6" || word == "local" || word == "remote";
}

// $1$salt$hash, $6$..., "$9$..." (crypt and vendor hash words).
bool IsHash(std::string_view word) {
  if (!word.empty() && word.front() == '"') word.remove_prefix(1);
  if (word.size() < 4 || word[0] != '$') return false;
  const std::size_t close = word.find('$', 1);
  return close != std::string_view::npos && close > 1 && close <= 3 && close + 1 < word.size();
}

}  // namespace

SecretMask::Key SecretMask::RandomKey() {
  std::random_device random;
  Key key{};
  for (std::uint64_t& part : key) part = (std::uint64_t{random()} << 32) ^ random();
  return key;
}

SecretMask::SecretMask(Key key, std::vector<Pattern> rules) : key_(key), rules_(std::move(rules)) {}

std::string SecretMask::Tag(std::string_view value) const {
  char text[24];
  std::snprintf(text, sizeof text, "<secret:%06x>", static_cast<unsigned>(SipHash(key_, value) & 0xffffff));
  return text;
}

std::string SecretMask::Line(std::string_view line, bool keywords) const {
  const std::vector<Word> words = Words(line);
  std::vector<bool> masked(words.size(), false);
  auto word = [&](std::size_t i) { return line.substr(words[i].begin, words[i].end - words[i].begin); };
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string lower = Lower(word(i));
    if (IsHash(word(i))) masked[i] = true;
    if (!keywords) continue;
    std::size_t value = i + 1;
    if (lower == "community") {
      if (i == 0 || Lower(word(i - 1)) != "snmp-server") continue;
    } else if (!IsKeyword(lower)) {
      continue;
    }
    if (value + 1 < words.size() && IsTypeNumber(word(value))) ++value;
    if (value < words.size() && !(lower == "pre-shared-key" && IsSelector(Lower(word(value)))))
      masked[value] = true;
  }
  // The rules given: the last word each match touches (a rule ends in the
  // value: "tacacs-server key (7 )?\S+").
  for (const Pattern& rule : rules_) {
    for (std::size_t from = 0; from < line.size();) {
      std::size_t begin = 0, end = 0;
      if (!rule.Find(line.substr(from), begin, end)) break;
      begin += from, end += from;
      for (std::size_t i = words.size(); i-- > 0;) {
        if (words[i].begin < end && words[i].end > begin) {
          masked[i] = true;
          break;
        }
      }
      from = end > from ? end : from + 1;
    }
  }
  std::string out;
  std::size_t at = 0;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (!masked[i]) continue;
    out.append(line.substr(at, words[i].begin - at));
    out += Tag(word(i));
    at = words[i].end;
  }
  out.append(line.substr(at));
  return out;
}

std::string SecretMask::Text(std::string_view text) const {
  std::string out;
  for (std::size_t at = 0; at <= text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    const bool cr = !line.empty() && line.back() == '\r';
    if (cr) line.remove_suffix(1);
    out += Line(line, true);
    if (cr) out += '\r';
    if (end < text.size()) out += '\n';
    at = end + 1;
  }
  return out;
}

std::string SecretMask::Message(std::string_view text) const { return Line(text, false); }

std::string SecretMask::Diff(std::string_view diff) const {
  std::string out;
  bool inHunk = false;  // before the first @@: the two header lines, names only
  for (std::size_t at = 0; at < diff.size();) {
    std::size_t end = diff.find('\n', at);
    end = end == std::string_view::npos ? diff.size() : end + 1;
    std::string_view line = diff.substr(at, end - at);
    at = end;
    if (line.rfind("@@", 0) == 0) inHunk = true;
    if (!inHunk || line.rfind("@@", 0) == 0 || line.rfind("\\", 0) == 0) {
      out += line;
      continue;
    }
    out += line.substr(0, 1);
    out += Text(line.substr(1));
  }
  return out;
}

}  // namespace tarnwick::archive
