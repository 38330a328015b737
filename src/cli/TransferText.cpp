#include "cli/TransferText.h"

#include <optional>

#include "base/TextCodec.h"

namespace tarnwick::cli {

std::string WireName(TransferDirection direction, const NameFields& fields, bool raw) {
  const std::string joined = RemoteName(direction, fields);
  if (raw) return joined;
  if (std::optional<std::string> cp932 = Utf8ToCp932(joined)) return *cp932;
  const std::string base = BaseFileName(direction, fields.fileName);
  if (!Utf8ToCp932(base))
    throw UsageError("remote name \"" + base + "\" cannot be written in CP932 (see --raw-name)");
  if (!Utf8ToCp932(fields.delimiter))
    throw UsageError("the delimiter cannot be written in CP932 (see --raw-name)");
  throw UsageError("the password cannot be written in CP932 (see --raw-name)");
}

std::string LocalNameShown(const std::string& local) { return local == "-" ? local : AbsolutePath(local); }

std::string LocalNameShown(const GetTarget& target) {
  return target.standardOutput ? "-" : AbsolutePath(target.path);
}

}  // namespace tarnwick::cli
