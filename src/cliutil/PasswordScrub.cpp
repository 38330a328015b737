#include "cliutil/PasswordScrub.h"

#include <optional>

#include "base/TextCodec.h"

namespace tarnwick::cli {

namespace {

void ReplaceAll(std::string& text, const std::string& secret) {
  if (secret.empty()) return;
  for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
    text.replace(at, secret.size(), "***");
}

}  // namespace

std::string WithoutSecrets(const std::string& text, const std::vector<std::string>& secrets) {
  std::vector<std::string> forms = secrets;
  for (const std::string& secret : secrets)
    if (std::optional<std::string> cp932 = Utf8ToCp932(secret); cp932 && *cp932 != secret)
      forms.push_back(*cp932);
  std::string out = text;
  for (const std::string& form : forms) ReplaceAll(out, form);
  return out;
}

std::string WithoutPassword(const std::string& text, const NameFields& fields) {
  // The same forms as in a device's raw bytes: UTF-8 and CP932 alike.
  return WithoutPasswordEcho(text, fields);
}

}  // namespace tarnwick::cli
