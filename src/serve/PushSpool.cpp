#include "serve/PushSpool.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "archive/ConfigStore.h"
#include "serve/RequestName.h"

namespace tarnwick::serve {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kTimeDigits = 13, kSequenceDigits = 6;

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string SpoolEntryName(std::int64_t unixMs, std::uint32_t sequence, std::string_view from,
                           std::string_view device) {
  char prefix[40];
  std::snprintf(prefix, sizeof prefix, "%013lld-%06u", static_cast<long long>(unixMs),
                static_cast<unsigned>(sequence % 1000000));
  std::string sender(from);
  std::replace(sender.begin(), sender.end(), ':', '_');
  return std::string(prefix) + "@" + sender + "@" + std::string(device);
}

std::optional<SpoolEntry> ParseSpoolEntry(std::string_view file) {
  // The time and the sender never hold '@'; the device's name may.
  const std::size_t first = file.find('@');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t second = file.find('@', first + 1);
  if (second == std::string_view::npos || second + 1 >= file.size()) return std::nullopt;
  const std::string_view stamp = file.substr(0, first);
  if (stamp.size() != kTimeDigits + 1 + kSequenceDigits || stamp[kTimeDigits] != '-' ||
      !AllDigits(stamp.substr(0, kTimeDigits)) || !AllDigits(stamp.substr(kTimeDigits + 1)))
    return std::nullopt;
  SpoolEntry entry;
  entry.file = std::string(file);
  entry.unixMs = std::stoll(std::string(stamp.substr(0, kTimeDigits)));
  entry.from = std::string(file.substr(first + 1, second - first - 1));
  std::replace(entry.from.begin(), entry.from.end(), '_', ':');
  entry.device = std::string(file.substr(second + 1));
  if (entry.from.empty()) return std::nullopt;
  return entry;
}

std::unique_ptr<PushSpool> PushSpool::Open(const std::string& dest, std::string& error) {
  const fs::path path = archive::PathFromUtf8(dest) / kSpoolFolder;
  std::error_code ec;
  if (fs::create_directory(path, ec)) fs::permissions(path, fs::perms::owner_all, ec);
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec || status.type() != fs::file_type::directory) {
    error = archive::PathToUtf8(path) + " is not a folder we can use" + (ec ? ": " + ec.message() : "");
    return nullptr;
  }
  std::unique_ptr<RootFolder> folder = RootFolder::OpenRoot(archive::PathToUtf8(path), error);
  if (!folder) return nullptr;
  return std::unique_ptr<PushSpool>(new PushSpool(archive::PathToUtf8(path), std::move(folder)));
}

std::vector<std::string> PushSpool::Names() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(archive::PathFromUtf8(path_), ec), end; !ec && it != end; it.increment(ec))
    names.push_back(archive::PathToUtf8(it->path().filename()));
  return names;
}

std::vector<SpoolEntry> PushSpool::Waiting() const {
  std::vector<SpoolEntry> waiting;
  for (const std::string& name : Names())
    if (std::optional<SpoolEntry> entry = ParseSpoolEntry(name)) waiting.push_back(std::move(*entry));
  // The fixed-width time and sequence sort the names in arrival order.
  std::sort(waiting.begin(), waiting.end(),
            [](const SpoolEntry& a, const SpoolEntry& b) { return a.file < b.file; });
  return waiting;
}

bool PushSpool::Read(const SpoolEntry& entry, std::uint64_t limit, std::string& bytes,
                     std::string& error) const {
  bytes.clear();
  OpenedFile opened = folder_->OpenRegular(entry.file);
  if (!opened.file.Valid()) {
    error = "cannot read the waiting push " + entry.file + ": " + opened.refusal.reason;
    return false;
  }
  char buffer[65536];
  for (;;) {
    const long long n = opened.file.Read(buffer, sizeof buffer);
    if (n < 0) {
      error = "cannot read the waiting push " + entry.file + ": " + cli::FileError::Last().text;
      return false;
    }
    if (n == 0) return true;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > limit) {
      error = "the waiting push " + entry.file + " is larger than " + std::to_string(limit) + " bytes";
      return false;
    }
  }
}

std::size_t PushSpool::RemoveLeftovers() const {
  std::size_t removed = 0;
  for (const std::string& name : Names())
    if (name.compare(0, std::char_traits<char>::length(kServeTempPrefix), kServeTempPrefix) == 0) {
      folder_->Remove(name);
      ++removed;
    }
  return removed;
}

}  // namespace tarnwick::serve
