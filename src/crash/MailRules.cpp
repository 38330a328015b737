#include "crash/MailRules.h"

namespace tarnwick {

unsigned long MailListLimitCode(std::size_t recipientLines, std::size_t attachmentLines) noexcept {
  if (recipientLines >= kMailListLimit) return kMailTooManyRecipients;
  if (attachmentLines >= kMailListLimit) return kMailTooManyFiles;
  return kMailSuccess;
}

std::optional<std::string> BracketedRecipient(const std::string& line, const std::string& resolvedName) {
  const bool lineHasBoth = line.find('[') != std::string::npos && line.find(']') != std::string::npos;
  const bool nameHasEither =
      resolvedName.find('[') != std::string::npos || resolvedName.find(']') != std::string::npos;
  if (!lineHasBoth || nameHasEither) return std::nullopt;
  std::string text = line;
  text.erase(text.find(']'), 1);
  text.erase(text.find('['), 1);
  return text;
}

std::string JoinLines(const std::string* lines, std::size_t count) {
  std::string joined;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) joined += "\r\n";
    joined += lines[i];
  }
  return joined;
}

}  // namespace tarnwick
