// Patterns on the native build: RE2, which guarantees linear-time matching
// and bounds the memory a pattern may compile to.
#include <re2/re2.h>

#include "archive/Pattern.h"

namespace tarnwick::archive {

class Pattern::Engine {
 public:
  explicit Engine(std::string_view source) : re_(re2::StringPiece(source.data(), source.size()), Options()) {}
  const re2::RE2& Re() const { return re_; }

 private:
  static re2::RE2::Options Options() {
    re2::RE2::Options o;
    // Configurations are bytes in whatever encoding the device uses: one
    // byte is one character, as in LinearPattern.
    o.set_encoding(re2::RE2::Options::EncodingLatin1);
    o.set_log_errors(false);
    // Find reports the leftmost-longest match, as LinearPattern does; a
    // yes-or-no search is the same either way.
    o.set_longest_match(true);  // the caller reports the error, once, in its words
    return o;
  }
  re2::RE2 re_;
};

bool Pattern::Compile(std::string_view source, Pattern& out, std::string& error) {
  auto engine = std::make_shared<const Engine>(source);
  if (!engine->Re().ok()) {
    error = engine->Re().error();
    return false;
  }
  out.engine_ = std::move(engine);
  out.source_ = std::string(source);
  return true;
}

bool Pattern::Search(std::string_view text) const {
  if (!engine_) return false;
  return re2::RE2::PartialMatch(re2::StringPiece(text.data(), text.size()), engine_->Re());
}

bool Pattern::Find(std::string_view text, std::size_t& begin, std::size_t& end) const {
  if (!engine_) return false;
  re2::StringPiece whole(text.data(), text.size()), match;
  if (!engine_->Re().Match(whole, 0, whole.size(), re2::RE2::UNANCHORED, &match, 1)) return false;
  begin = static_cast<std::size_t>(match.data() - text.data());
  end = begin + match.size();
  return true;
}

}  // namespace tarnwick::archive
