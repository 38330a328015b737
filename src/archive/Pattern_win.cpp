// Patterns on the Windows build, which has no RE2: our own linear-time
// automaton (LinearPattern.h), held to RE2's answers by the native tests.
#include "archive/LinearPattern.h"
#include "archive/Pattern.h"

namespace tarnwick::archive {

class Pattern::Engine {
 public:
  LinearPattern linear;
};

bool Pattern::Compile(std::string_view source, Pattern& out, std::string& error) {
  auto engine = std::make_shared<Engine>();
  if (!LinearPattern::Compile(source, engine->linear, error)) return false;
  out.engine_ = std::move(engine);
  out.source_ = std::string(source);
  return true;
}

bool Pattern::Search(std::string_view text) const { return engine_ && engine_->linear.Search(text); }

bool Pattern::Find(std::string_view text, std::size_t& begin, std::size_t& end) const {
  return engine_ && engine_->linear.Find(text, begin, end);
}

}  // namespace tarnwick::archive
