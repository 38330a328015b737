// The walk over the arguments that get/put, backup and serve share: a word
// not starting with '-' (and "-" itself, and every word after "--") is
// positional; "--name=value" carries its value inline; an option that takes
// a value and has none inline takes the next word.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

namespace tarnwick::cli {

class OptionWalk {
 public:
  explicit OptionWalk(const std::vector<std::string>& args) : args_(args) {}

  // Moves to the next option, collecting positional words on the way; false
  // once the arguments are used up. Word() and the rest below are only
  // asked after Next() returned true.
  bool Next();
  // The word as typed, and the option without an inline "=value".
  const std::string& Word() const { return args_[word_]; }
  const std::string& Name() const { return name_; }
  bool HasInlineValue() const { return inlineValue_; }
  bool IsHelp() const { return name_ == "--help" || name_ == "-h"; }
  bool IsOneOf(std::initializer_list<const char*> names) const;
  // The option's value: the inline one, else the next word (which is then
  // used up). False when there is neither.
  bool TakeValue(std::string& value);

  const std::vector<std::string>& Positional() const { return positional_; }

 private:
  const std::vector<std::string>& args_;
  std::size_t next_ = 0, word_ = 0;
  bool optionsEnded_ = false;
  std::string name_, inline_;
  bool inlineValue_ = false;
  std::vector<std::string> positional_;
};

}  // namespace tarnwick::cli
