#include "cliutil/OptionWalk.h"

namespace tarnwick::cli {

bool OptionWalk::Next() {
  while (next_ < args_.size()) {
    word_ = next_++;
    const std::string& a = args_[word_];
    if (optionsEnded_ || a.empty() || a[0] != '-' || a == "-") {
      positional_.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded_ = true;
      continue;
    }
    const std::size_t eq = a.find('=');
    inlineValue_ = eq != std::string::npos;
    name_ = inlineValue_ ? a.substr(0, eq) : a;
    inline_ = inlineValue_ ? a.substr(eq + 1) : std::string();
    return true;
  }
  return false;
}

bool OptionWalk::IsOneOf(std::initializer_list<const char*> names) const {
  for (const char* n : names)
    if (name_ == n) return true;
  return false;
}

bool OptionWalk::TakeValue(std::string& value) {
  if (inlineValue_) {
    value = inline_;
    return true;
  }
  if (next_ >= args_.size()) return false;
  value = args_[next_++];
  return true;
}

}  // namespace tarnwick::cli
