#include "crash/CrashLog.h"

#include <vector>

#include "crash/StackTable.h"

namespace tarnwick {

namespace {

constexpr std::size_t kCompareLimit = 10000;
const char kVersionLabel[] = "Version Number   : ";

std::size_t LastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

// Offsets of every separator line: 60 "-" and CR LF at the start of a line.
std::vector<std::size_t> SeparatorLines(const std::string& content) {
  const std::string separator = StackTableSeparator();
  std::vector<std::size_t> found;
  for (std::size_t at = content.find(separator); at != std::string::npos;
       at = content.find(separator, at + 1)) {
    if (at == 0 || content[at - 1] == '\n') {
      found.push_back(at);
      at += separator.size() - 1;
    }
  }
  return found;
}

bool VersionChanged(const std::string& content, const std::string& version) {
  const std::size_t at = content.rfind(kVersionLabel);
  if (at == std::string::npos) return true;
  const std::size_t from = at + sizeof kVersionLabel - 1;
  const std::size_t end = content.find("\r\n", from);
  return content.substr(from, end == std::string::npos ? std::string::npos : end - from) != version;
}

bool IsDuplicate(const std::string& content, const std::vector<std::size_t>& separators,
                 const std::string& stackTable) {
  const std::string wanted = UpperCase(stackTable.substr(0, kCompareLimit));
  const std::size_t separatorSize = StackTableSeparator().size();
  for (std::size_t i = 0; i + 2 < separators.size(); i += 3) {
    const std::size_t from = separators[i];
    const std::size_t length = separators[i + 2] + separatorSize - from;
    if (UpperCase(content.substr(from, std::min(length, kCompareLimit))) == wanted) return true;
  }
  return false;
}

void Trim(std::string& content, const std::vector<std::size_t>& separators, std::int32_t maxEntries) {
  const long long entries = static_cast<long long>(separators.size() / 3);
  if (entries < maxEntries) return;
  const long long remove = entries - maxEntries + 1;
  if (remove <= 0 || static_cast<unsigned long long>(remove) * 3 > separators.size()) return;
  std::size_t end = separators[static_cast<std::size_t>(remove * 3 - 1)] + StackTableSeparator().size();
  if (content.compare(end, 2, "\r\n") == 0) end += 2;
  content.erase(0, end);
}

}  // namespace

std::string FileNamePart(const std::string& path) {
  const std::size_t slash = LastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string SideFilePath(const std::string& exePath, const std::string& suffix,
                         const std::string& logFolder) {
  std::string path = exePath.substr(0, exePath.size() >= 3 ? exePath.size() - 3 : 0) + suffix;
  if (!logFolder.empty()) {
    const std::size_t slash = LastSeparator(logFolder);
    const std::string folder = slash == std::string::npos ? std::string() : logFolder.substr(0, slash + 1);
    path = folder + FileNamePart(path);
  }
  return path;
}

LogUpdate UpdateLog(std::string content, const std::string& entry, const std::string& stackTable,
                    const std::string& versionNumber, const CrashOptions& o) {
  if (!o.noLogLimit && o.clearLogOnNewVersion && VersionChanged(content, versionNumber)) content.clear();
  std::vector<std::size_t> separators = SeparatorLines(content);
  if (o.skipDuplicates && !content.empty() && IsDuplicate(content, separators, stackTable))
    return {std::move(content), true};
  if (!o.noLogLimit && !o.clearLogOnNewVersion && !content.empty())
    Trim(content, separators, o.maxLogEntries);
  content += entry;
  return {std::move(content), false};
}

LogWrite PlanLogWrite(const std::optional<std::string>& content, const std::string& entry,
                      const std::string& stackTable, const std::string& versionNumber,
                      const CrashOptions& o) {
  if (!content) return {LogWrite::Kind::Append, entry};
  const std::size_t before = content->size();
  LogUpdate update = UpdateLog(*content, entry, stackTable, versionNumber, o);
  if (update.duplicate) return {LogWrite::Kind::Nothing, {}};
  // Nothing was cleared or trimmed when the new content is the old plus the
  // entry: only the entry needs writing.
  if (update.content.size() == before + entry.size()) return {LogWrite::Kind::Append, entry};
  return {LogWrite::Kind::Replace, std::move(update.content)};
}

}  // namespace tarnwick
