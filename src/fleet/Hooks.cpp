#include "fleet/Hooks.h"

#include <algorithm>
#include <cctype>

#include "cliutil/PasswordScrub.h"

namespace tarnwick::fleet {
namespace {

// Every name a hook's facts may set: an inherited one is dropped even when
// this event leaves it empty, so a parent's stale value never passes for a
// fact.
constexpr const char* kFactNames[] = {"TARNWICK_DEVICE", "TARNWICK_HOST", "TARNWICK_RESULT",
                                      "TARNWICK_ERROR",  "TARNWICK_FILE", "TARNWICK_COMMIT",
                                      "TARNWICK_REPORT"};

// Windows names are case-insensitive; matching so on POSIX too costs nothing.
bool SameName(const std::string& entry, const std::string& name) {
  if (entry.size() <= name.size() || entry[name.size()] != '=') return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(entry[i])) != name[i]) return false;
  }
  return true;
}

bool SplitWords(const std::string& line, std::vector<std::string>& words, std::string& error) {
  std::string word;
  bool inWord = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\'') {
      std::size_t close = line.find('\'', i + 1);
      if (close == std::string::npos) {
        error = "unclosed ' in hook command";
        return false;
      }
      word.append(line, i + 1, close - i - 1);
      i = close;
    } else if (c == '"') {
      for (++i;; ++i) {
        if (i >= line.size()) {
          error = "unclosed \" in hook command";
          return false;
        }
        if (line[i] == '"') break;
        if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) ++i;
        word += line[i];
      }
    } else if (c == '\\') {
      if (++i == line.size()) {
        error = "hook command ends with a backslash";
        return false;
      }
      word += line[i];
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(word);
  return true;
}

}  // namespace

bool SplitCommandLine(const std::string& line, std::vector<std::string>& words, std::string& error) {
  words.clear();
  error.clear();
  if (SplitWords(line, words, error) && !words.empty()) return true;
  if (error.empty()) error = "hook command is empty";
  words.clear();
  return false;
}

std::vector<std::string> HookVariables(const HookFacts& facts, const std::vector<std::string>& secrets) {
  const std::string* values[] = {&facts.device, &facts.host,   &facts.result, &facts.error,
                                 &facts.file,   &facts.commit, &facts.report};
  std::vector<std::string> variables;
  for (std::size_t i = 0; i < std::size(kFactNames); ++i) {
    if (values[i]->empty()) continue;
    // An environment entry ends at its first NUL byte: what follows could
    // not be passed anyway.
    std::string value = cli::WithoutSecrets(*values[i], secrets);
    value = value.substr(0, value.find('\0'));
    variables.push_back(std::string(kFactNames[i]) + "=" + value);
  }
  return variables;
}

std::vector<std::string> HookEnvironment(const std::vector<std::string>& inherited,
                                         const std::vector<std::string>& variables) {
  std::vector<std::string> environment;
  for (const std::string& entry : inherited) {
    bool drop = SameName(entry, "TARNWICK_PASSWORD");
    for (const char* name : kFactNames) drop = drop || SameName(entry, name);
    if (!drop) environment.push_back(entry);
  }
  environment.insert(environment.end(), variables.begin(), variables.end());
  return environment;
}

HookResult ExitedHook(int status) {
  HookResult result;
  result.outcome = HookOutcome::Exited;
  result.code = status;
  result.reason = "exit status " + std::to_string(status);
  return result;
}

HookResult TimedOutHook(std::chrono::milliseconds limit) {
  HookResult result;
  result.outcome = HookOutcome::TimedOut;
  const auto ms = limit.count();
  result.reason = "timed out after " +
                  (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms") +
                  " (ended with everything it started)";
  return result;
}

HookResult InterruptedHook() {
  HookResult result;
  result.outcome = HookOutcome::Interrupted;
  result.reason = "stopped with the run (ended with everything it started)";
  return result;
}

HookResult HookNotStarted(const std::string& what) {
  HookResult result;
  result.outcome = HookOutcome::NotStarted;
  result.reason = "could not start: " + what;
  return result;
}

std::size_t HookOutputCap::Shown(std::size_t n) {
  const std::uint64_t room = kMaxHookOutputBytes - std::min(shown_, kMaxHookOutputBytes);
  const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(room, n));
  shown_ += take;
  dropped_ += n - take;
  return take;
}

std::string HookOutputCap::Note() const {
  if (!dropped_) return {};
  return "\n[tarnwick-cli backup: hook output cut after " + std::to_string(kMaxHookOutputBytes) + " bytes, " +
         std::to_string(dropped_) + " more bytes dropped]\n";
}

bool SplitHookOption(const std::string& option, const std::string& line, std::vector<std::string>& words,
                     std::string& error) {
  if (line.empty() || SplitCommandLine(line, words, error)) return true;
  error = option + ": " + error;
  return false;
}

}  // namespace tarnwick::fleet
