#include "archive/ConfigStore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "archive/ProcessId.h"

namespace tarnwick::archive {

namespace fs = std::filesystem;
using cli::FileError;
using cli::FileHandle;

fs::path PathFromUtf8(const std::string& utf8) { return fs::u8path(utf8); }

std::string PathToUtf8(const fs::path& path) { return path.u8string(); }

std::string HistoryStamp(std::time_t utc) {
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &utc);
#else
  gmtime_r(&utc, &parts);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
  return text;
}

bool HistoryCopyBefore(const std::string& a, const std::string& b) {
  auto split = [](const std::string& name) {
    std::size_t end = name.find_first_of("-.");
    if (end == std::string::npos) end = name.size();
    unsigned long n = 1;
    if (end < name.size() && name[end] == '-') n = std::strtoul(name.c_str() + end + 1, nullptr, 10);
    return std::make_pair(name.substr(0, end), n);
  };
  const auto ka = split(a), kb = split(b);
  if (ka != kb) return ka < kb;
  return a < b;
}

std::string FileErrorText(const std::string& what, const FileError& error) {
  return what + ": " + (error.text.empty() ? "unknown error" : error.text);
}

namespace {

constexpr std::size_t kChunk = 64 * 1024;
constexpr std::size_t kWriteBuffer = 16 * 1024;
// Same-second runs: a handful is plenty; past it something is wrong.
constexpr int kMaxHistoryNames = 100;

bool IsOurTemporary(const std::string& name) {
  return name.rfind(kTempPrefix, 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0;
}

bool ReadPieces(const FileHandle& file, const std::function<void(std::string_view)>& piece) {
  std::string buffer(kChunk, '\0');
  for (std::uint64_t offset = 0;;) {
    const long long n = file.ReadAt(offset, buffer.data(), buffer.size());
    if (n < 0) return false;
    if (n == 0) return true;
    piece(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    offset += static_cast<std::uint64_t>(n);
  }
}

bool SameContent(const FileHandle& a, const FileHandle& b) {
  const auto sizeA = a.Size(), sizeB = b.Size();
  if (!sizeA || !sizeB || *sizeA != *sizeB) return false;
  std::string bufferA(kChunk, '\0'), bufferB(kChunk, '\0');
  for (std::uint64_t offset = 0; offset < *sizeA;) {
    const long long na = a.ReadAt(offset, bufferA.data(), bufferA.size());
    const long long nb = b.ReadAt(offset, bufferB.data(), bufferB.size());
    if (na <= 0 || na != nb || std::memcmp(bufferA.data(), bufferB.data(), static_cast<std::size_t>(na)) != 0)
      return false;
    offset += static_cast<std::uint64_t>(na);
  }
  return true;
}

}  // namespace

TempConfig::TempConfig(DestFolder& folder, std::string rel, FileHandle file)
    : folder_(folder), rel_(std::move(rel)), file_(std::move(file)) {}

TempConfig::~TempConfig() {
  if (placed_) return;
  file_.Close();
  folder_.Remove(rel_);
}

// Blocks arrive 512 bytes at a time: one write per block would cost more
// system calls than the transfer itself.
bool TempConfig::Write(std::string_view bytes) {
  if (buffer_.capacity() < kWriteBuffer) buffer_.reserve(kWriteBuffer);
  if (buffer_.size() + bytes.size() > kWriteBuffer && !WriteBuffered()) return false;
  if (bytes.size() >= kWriteBuffer) {
    if (!file_.WriteAll(bytes.data(), bytes.size())) {
      failure_ = FileError::Last();
      return false;
    }
    written_ += bytes.size();
  } else {
    buffer_.append(bytes);
  }
  bytes_ += bytes.size();
  return true;
}

bool TempConfig::WriteBuffered() {
  if (buffer_.empty()) return true;
  if (!file_.WriteAll(buffer_.data(), buffer_.size())) {
    failure_ = FileError::Last();
    return false;
  }
  written_ += buffer_.size();
  buffer_.clear();
  return true;
}

std::string TempConfig::WriteFailure() const {
  return failure_.text + ", at byte " + std::to_string(written_);
}

bool TempConfig::Sync(std::string& error) {
  if (!WriteBuffered()) {
    error = FileErrorText("cannot write the new copy", failure_) + ", at byte " + std::to_string(written_);
    return false;
  }
  if (file_.Sync()) return synced_ = true;
  error = FileErrorText("cannot flush the new copy to disk", FileError::Last());
  return false;
}

bool TempConfig::ReadBack(const std::function<void(std::string_view)>& piece) {
  return WriteBuffered() && ReadPieces(file_, piece);
}

std::unique_ptr<ConfigStore> ConfigStore::Open(const std::string& dest, const std::string& runInfo,
                                               DestOpening& opening, const LockWait& wait) {
  std::unique_ptr<DestFolder> folder = DestFolder::Open(dest, runInfo, opening, wait);
  if (!folder) return nullptr;
  std::unique_ptr<ConfigStore> store(new ConfigStore(std::move(folder)));
  store->Sweep();
  return store;
}

// Under the lock no other run is alive: every temporary file of ours is a
// dead run's (killed, power cut, second Ctrl+C).
void ConfigStore::Sweep() {
  for (const DestFolder::Entry& e : folder_->List(""))
    if (!e.folder && IsOurTemporary(e.name)) {
      folder_->Remove(e.name);
      ++swept_;
    }
  for (const DestFolder::Entry& device : folder_->List("history")) {
    if (!device.folder) continue;
    for (const DestFolder::Entry& e : folder_->List("history/" + device.name))
      if (!e.folder && IsOurTemporary(e.name)) {
        folder_->Remove("history/" + device.name + "/" + e.name);
        ++swept_;
      }
  }
}

std::unique_ptr<TempConfig> ConfigStore::NewTemp(const std::string& name, std::string& error) {
  const std::string rel = std::string(kTempPrefix) + std::to_string(CurrentProcessId()) + "-" +
                          std::to_string(counter_++) + "-" + name + ".tmp";
  FileError failure;
  FileHandle file = folder_->CreateExclusive(rel, failure);
  if (!file.Valid()) {
    error = FileErrorText("cannot create a temporary file in the backup folder", failure);
    return nullptr;
  }
  return std::unique_ptr<TempConfig>(new TempConfig(*folder_, rel, std::move(file)));
}

bool ConfigStore::PreviousSize(const std::string& name, std::optional<std::uint64_t>& size,
                               std::string& error) {
  size.reset();
  bool missing = false;
  FileError failure;
  FileHandle previous = folder_->OpenExisting(name + ".cfg", missing, failure);
  if (missing) return true;
  if (!previous.Valid()) return error = FileErrorText(name + ".cfg", failure), false;
  size = previous.Size();
  return true;
}

bool ConfigStore::SameAsSaved(TempConfig& temp, const std::string& name) {
  bool missing = false;
  FileError ignored;
  FileHandle previous = folder_->OpenExisting(name + ".cfg", missing, ignored);
  return previous.Valid() && temp.WriteBuffered() && SameContent(temp.file_, previous);
}

bool ConfigStore::KeepHistory(FileHandle& previous, const std::string& name, const std::string& stamp,
                              SaveOutcome& out) {
  const std::string folder = "history/" + name;
  FileError failure;
  if (!folder_->MakeFolders(folder, failure)) {
    out.error = FileErrorText("cannot keep the previous copy in " + folder, failure);
    return false;
  }
  touched_.insert("history");
  touched_.insert(folder);
  // A second name for the saved copy costs no space and no copying; where
  // the file system has no hard links, a flushed copy under a temporary
  // name is linked to its history name instead. A name already taken is a
  // run earlier in the same second; any other failure is reported as it is.
  bool noFreeName = false;
  auto linkUnderFreeName = [&](const std::string& from) {
    for (int n = 1; n <= kMaxHistoryNames; ++n) {
      const std::string target = folder + "/" + stamp + (n == 1 ? "" : "-" + std::to_string(n)) + ".cfg";
      bool exists = false;
      if (folder_->Link(from, target, exists, failure)) {
        out.historyFile = target;
        return true;
      }
      if (!exists) return false;
    }
    noFreeName = true;
    return false;
  };
  if (linkUnderFreeName(name + ".cfg")) return true;
  if (!noFreeName) {
    const std::string copy = folder + "/" + kTempPrefix + std::to_string(CurrentProcessId()) + "-" +
                             std::to_string(counter_++) + ".tmp";
    FileHandle file = folder_->CreateExclusive(copy, failure);
    bool copied = file.Valid();
    if (copied) {
      copied = ReadPieces(previous, [&](std::string_view piece) {
        if (copied && !file.WriteAll(piece.data(), piece.size())) copied = false;
      });
      copied = copied && file.Sync() && file.Close();
      if (!copied) failure = FileError::Last();
    }
    const bool linked = copied && linkUnderFreeName(copy);
    file.Close();
    folder_->Remove(copy);
    if (linked) return true;
  }
  out.error = noFreeName ? "no free history name for " + name + " at " + stamp
                         : FileErrorText("cannot keep the previous copy in " + folder, failure);
  return false;
}

SaveOutcome ConfigStore::Save(TempConfig& temp, const std::string& name, const std::string& stamp) {
  SaveOutcome out;
  if (!temp.synced_ && !temp.Sync(out.error)) return out;
  const std::string target = name + ".cfg";
  bool missing = false;
  FileError failure;
  FileHandle previous = folder_->OpenExisting(target, missing, failure);
  if (!previous.Valid() && !missing) {
    out.error = FileErrorText(target, failure);
    return out;
  }
  if (previous.Valid()) {
    if (SameContent(temp.file_, previous)) {
      out.ok = true;
      return out;
    }
    // The old copy reaches the history before the new one replaces it, so
    // a crash in between loses neither.
    if (!KeepHistory(previous, name, stamp, out)) return out;
    previous.Close();
  }
  if (!temp.file_.Close()) {
    out.error = FileErrorText("cannot write the new copy of " + name, FileError::Last());
    return out;
  }
  if (!folder_->Replace(temp.rel_, target, failure)) {
    out.error = FileErrorText("cannot put the new copy in place as " + target, failure);
    return out;
  }
  temp.placed_ = true;
  touched_.insert("");
  out.ok = true;
  out.changed = true;
  return out;
}

bool ConfigStore::ReadFile(const std::string& rel, std::size_t limit, std::string& bytes, bool& missing,
                           std::string& error) {
  bytes.clear();
  missing = false;
  FileError failure;
  FileHandle file = folder_->OpenExisting(rel, missing, failure);
  if (missing) return true;
  if (!file.Valid()) return error = FileErrorText(rel, failure), false;
  bool small = true;
  const bool read = ReadPieces(file, [&](std::string_view piece) {
    if (bytes.size() + piece.size() > limit) small = false;
    if (small) bytes.append(piece);
  });
  if (!read) return error = FileErrorText("cannot read " + rel, FileError::Last()), false;
  if (!small) return error = rel + " is larger than " + std::to_string(limit) + " bytes", false;
  return true;
}

bool ConfigStore::ReadTemp(TempConfig& temp, std::size_t limit, std::string& bytes) {
  bytes.clear();
  if (temp.Bytes() > limit) return false;
  return temp.ReadBack([&](std::string_view piece) { bytes.append(piece); });
}

bool ConfigStore::WriteAtomically(const std::string& rel, const std::string& bytes, std::string& error) {
  const std::string temp = std::string(kTempPrefix) + std::to_string(CurrentProcessId()) + "-" +
                           std::to_string(counter_++) + ".tmp";
  FileError failure;
  FileHandle file = folder_->CreateExclusive(temp, failure);
  if (!file.Valid())
    return error = FileErrorText("cannot create a temporary file for " + rel, failure), false;
  const bool written = file.WriteAll(bytes.data(), bytes.size()) && file.Sync() && file.Close();
  if (!written) failure = FileError::Last();
  if (!written || !folder_->Replace(temp, rel, failure)) {
    file.Close();
    folder_->Remove(temp);
    return error = FileErrorText("cannot write " + rel, failure), false;
  }
  if (!folder_->SyncFolder("", failure))
    return error = FileErrorText("cannot flush the folder .", failure), false;
  return true;
}

std::vector<std::string> ConfigStore::HistoryCopies(const std::string& name) {
  std::vector<std::string> copies;
  for (const DestFolder::Entry& e : folder_->List("history/" + name))
    if (!e.folder && !IsOurTemporary(e.name) && e.name.size() > 4 &&
        e.name.compare(e.name.size() - 4, 4, ".cfg") == 0)
      copies.push_back(e.name);
  std::sort(copies.begin(), copies.end(), HistoryCopyBefore);
  return copies;
}

std::string ConfigStore::NewestHistory(const std::string& name) {
  std::vector<std::string> copies = HistoryCopies(name);
  return copies.empty() ? std::string() : "history/" + name + "/" + copies.back();
}

std::size_t ConfigStore::TrimHistory(const std::string& name, std::size_t keep) {
  std::size_t removed = 0;
  const std::string folder = "history/" + name;
  // Oldest first by the time a name stands for, not by its spelling.
  std::vector<std::string> copies = HistoryCopies(name);
  if (copies.size() <= keep) return 0;
  for (std::size_t i = 0; i + keep < copies.size(); ++i) {
    folder_->Remove(folder + "/" + copies[i]);
    ++removed;
  }
  touched_.insert(folder);
  return removed;
}

bool ConfigStore::Retire(const std::string& name, const std::string& stamp, std::string& historyFile,
                         std::string& error) {
  bool missing = false;
  FileError failure;
  FileHandle saved = folder_->OpenExisting(name + ".cfg", missing, failure);
  if (missing) return true;
  if (!saved.Valid()) return error = FileErrorText(name + ".cfg", failure), false;
  SaveOutcome out;
  if (!KeepHistory(saved, name, stamp, out)) return error = out.error, false;
  saved.Close();
  folder_->Remove(name + ".cfg");
  touched_.insert("");
  historyFile = out.historyFile;
  return true;
}

bool ConfigStore::HasSaved(const std::string& name) {
  bool missing = false;
  FileError failure;
  return folder_->OpenExisting(name + ".cfg", missing, failure).Valid();
}

bool ConfigStore::SyncFolders(std::string& error) {
  bool ok = true;
  // Deepest first: a folder's new entry is durable before its parent's.
  for (auto it = touched_.rbegin(); it != touched_.rend(); ++it) {
    FileError failure;
    if (!folder_->SyncFolder(*it, failure) && ok) {
      error = FileErrorText("cannot flush the folder " + (it->empty() ? std::string(".") : *it), failure);
      ok = false;
    }
  }
  touched_.clear();
  return ok;
}

}  // namespace tarnwick::archive
