#include "cli/TransferText.h"

#include <optional>
#include <vector>

#include "base/TextCodec.h"

namespace tarnwick::cli {

std::string WireName(TransferDirection direction, const NameFields& fields, bool raw) {
  const std::string joined = RemoteName(direction, fields);
  if (raw) return joined;
  if (std::optional<std::string> cp932 = Utf8ToCp932(joined)) return *cp932;
  const std::string base = BaseFileName(direction, fields.fileName);
  if (!Utf8ToCp932(base))
    throw UsageError("remote name \"" + base + "\" cannot be written in CP932 (see --raw-name)");
  if (!Utf8ToCp932(fields.delimiter)) throw UsageError("the delimiter cannot be written in CP932 (see --raw-name)");
  throw UsageError("the password cannot be written in CP932 (see --raw-name)");
}

namespace {

void ReplaceAll(std::string& text, const std::string& secret) {
  if (secret.empty()) return;
  for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
    text.replace(at, secret.size(), "***");
}

}  // namespace

std::string WithoutPassword(const std::string& text, const NameFields& fields) {
  if (fields.password.empty()) return text;
  std::vector<std::string> secrets = {fields.delimiter + fields.password};
  if (fields.password.size() >= 3) secrets.push_back(fields.password);
  const std::size_t utf8Forms = secrets.size();
  for (std::size_t i = 0; i < utf8Forms; ++i)
    if (std::optional<std::string> cp932 = Utf8ToCp932(secrets[i]); cp932 && *cp932 != secrets[i])
      secrets.push_back(*cp932);
  std::string out = text;
  for (const std::string& secret : secrets) ReplaceAll(out, secret);
  return out;
}

}  // namespace tarnwick::cli
