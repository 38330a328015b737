#include "crash/CrashLog.h"

#include <algorithm>

#include "crash/StackTable.h"

namespace tarnwick {

namespace {

constexpr std::size_t kCompareLimit = 10000;
constexpr char kVersionLabel[] = "Version Number   : ";
constexpr std::size_t kVersionLabelSize = sizeof kVersionLabel - 1;

std::size_t LastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

// One pass over the log's bytes, in pieces of any size, keeping only what
// the rules need: the number of separator lines (60 "-" and CR LF at the
// start of a line), the offset of one of them when asked for, whether a
// stored stack table (three separators) starts like the new one, and the
// value behind the last version label. Memory is bounded by the compared
// length, whatever the log's size.
class LogScan {
 public:
  LogScan(const std::string& stackTable, const std::string& version, std::uint64_t wantedSeparator)
      : wanted_(UpperCase(stackTable.substr(0, kCompareLimit))),
        version_(version),
        wantedSeparator_(wantedSeparator) {}

  void Feed(const char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, ++offset_) {
      // Outside the label and its value, runs of bytes that cannot change
      // the state are taken in one go: the rest of an ordinary line up to a
      // line break or the label's first letter, and a separator's dashes.
      if (labelMatched_ == 0 && !InValue() && line_ != Line::CarriageReturn) {
        const std::size_t from = i;
        if (line_ == Line::Other) {
          while (i < count && bytes[i] != '\n' && bytes[i] != kVersionLabel[0]) ++i;
        } else {
          while (i < count && bytes[i] == '-' && dashes_ < kStackTableWidth) ++i, ++dashes_;
        }
        if (tableOpen_ && table_.size() < kCompareLimit)
          table_.append(bytes + from, std::min(i - from, kCompareLimit - table_.size()));
        offset_ += i - from;
        if (i == count) break;
      }
      Take(bytes[i]);
    }
  }

  std::uint64_t Separators() const noexcept { return separators_; }
  bool Duplicate() const noexcept { return duplicate_; }
  std::optional<std::uint64_t> WantedSeparatorOffset() const noexcept { return wantedOffset_; }
  // The value runs from the last label to the CR LF after it, or to the end.
  bool VersionChanged() const {
    return !labelSeen_ || (valueEnded_ ? value_ != version_ + "\r\n" : value_ != version_);
  }

 private:
  // Within the first bytes of a version value, where every byte counts.
  bool InValue() const noexcept { return !valueEnded_ && value_.size() <= version_.size() + 2; }

  void Take(char c) {
    if (tableOpen_ && table_.size() < kCompareLimit) table_ += c;
    TakeVersion(c);
    TakeSeparator(c);
  }

  void TakeVersion(char c) {
    if (InValue()) {
      value_ += c;
      valueEnded_ = value_.size() >= 2 && value_.compare(value_.size() - 2, 2, "\r\n") == 0;
    }
    // The label has no prefix that is also its suffix, so a mismatch can
    // only restart at the current byte.
    if (c == kVersionLabel[labelMatched_]) {
      if (++labelMatched_ < kVersionLabelSize) return;
      labelSeen_ = true;
      value_.clear();
      valueEnded_ = false;
    }
    labelMatched_ = c == kVersionLabel[0] ? 1 : 0;
  }

  void TakeSeparator(char c) {
    switch (line_) {
      case Line::Dashes:
        if (c == '-' && ++dashes_ <= kStackTableWidth) return;
        line_ = c == '\r' && dashes_ == kStackTableWidth ? Line::CarriageReturn : Line::Other;
        break;
      case Line::CarriageReturn:
        if (c == '\n') SeparatorEnds();
        line_ = Line::Other;
        break;
      case Line::Other:
        break;
    }
    if (c == '\n') {
      line_ = Line::Dashes;
      dashes_ = 0;
    }
  }

  void SeparatorEnds() {
    const std::size_t size = kStackTableWidth + 2;
    const std::uint64_t start = offset_ + 1 - size;
    if (separators_ == wantedSeparator_) wantedOffset_ = start;
    if (separators_ % 3 == 0) {  // a stored table starts
      table_ = StackTableSeparator();
      tableStart_ = start;
      tableOpen_ = true;
    } else if (separators_ % 3 == 2) {  // and ends here
      const std::uint64_t length = std::min<std::uint64_t>(offset_ + 1 - tableStart_, kCompareLimit);
      if (UpperCase(table_.substr(0, static_cast<std::size_t>(length))) == wanted_) duplicate_ = true;
      tableOpen_ = false;
    }
    ++separators_;
  }

  enum class Line { Dashes, CarriageReturn, Other };

  const std::string wanted_;
  const std::string version_;
  const std::uint64_t wantedSeparator_;
  std::uint64_t offset_ = 0;
  // Separator lines and the stored table being read.
  Line line_ = Line::Dashes;
  std::size_t dashes_ = 0;
  std::uint64_t separators_ = 0;
  std::optional<std::uint64_t> wantedOffset_;
  bool tableOpen_ = false;
  std::uint64_t tableStart_ = 0;
  std::string table_;
  bool duplicate_ = false;
  // The version label and the start of the value behind it.
  std::size_t labelMatched_ = 0;
  bool labelSeen_ = false;
  std::string value_;
  bool valueEnded_ = true;
};

constexpr std::uint64_t kNoSeparator = ~std::uint64_t{0};

// Runs the scan over the whole log; false when a read fails or comes up
// short (the log changed under us), and then nothing may be judged.
bool ScanLog(std::uint64_t size, const LogReadAt& read, LogScan& scan) {
  std::string piece(kLogPieceSize, '\0');
  for (std::uint64_t at = 0; at < size;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size - at, piece.size()));
    const std::optional<std::size_t> got = read(at, piece.data(), want);
    if (!got || *got == 0 || *got > want) return false;
    scan.Feed(piece.data(), *got);
    at += *got;
  }
  return true;
}

// Where the kept part starts after removing the oldest entries so that the
// new one fits the limit; nothing when no entry has to go.
std::optional<std::uint64_t> TrimmedStart(std::uint64_t size, const LogReadAt& read, std::uint64_t separators,
                                          const std::string& stackTable, std::int32_t maxEntries) {
  const long long entries = static_cast<long long>(separators / 3);
  if (entries < maxEntries) return std::nullopt;
  const long long remove = entries - maxEntries + 1;
  if (remove <= 0 || static_cast<unsigned long long>(remove) * 3 > separators) return std::nullopt;
  LogScan scan(stackTable, {}, static_cast<std::uint64_t>(remove) * 3 - 1);
  if (!ScanLog(size, read, scan) || !scan.WantedSeparatorOffset()) return std::nullopt;
  std::uint64_t end = *scan.WantedSeparatorOffset() + StackTableSeparator().size();
  // The entry's closing CR LF goes with it.
  char next[2] = {};
  std::size_t got = 0;
  while (end + 2 <= size && got < 2) {
    const std::optional<std::size_t> n = read(end + got, next + got, 2 - got);
    if (!n || *n == 0) break;
    got += *n;
  }
  if (got == 2 && next[0] == '\r' && next[1] == '\n') end += 2;
  return end;
}

LogReadAt StringReader(const std::string& content) {
  return [&content](std::uint64_t offset, char* into, std::size_t size) -> std::optional<std::size_t> {
    if (offset > content.size()) return std::nullopt;
    return content.copy(into, size, static_cast<std::size_t>(offset));
  };
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

LogEdit PlanLogEdit(std::uint64_t size, const LogReadAt& read, const std::string& stackTable,
                    const std::string& versionNumber, const CrashOptions& o) {
  const LogEdit append{LogWrite::Kind::Append, 0};
  if (size == 0) return append;
  LogScan scan(stackTable, versionNumber, kNoSeparator);
  if (!ScanLog(size, read, scan)) return append;
  if (!o.noLogLimit && o.clearLogOnNewVersion && scan.VersionChanged())
    return {LogWrite::Kind::Replace, size};
  if (o.skipDuplicates && scan.Duplicate()) return {LogWrite::Kind::Nothing, 0};
  if (!o.noLogLimit && !o.clearLogOnNewVersion) {
    const std::optional<std::uint64_t> start =
        TrimmedStart(size, read, scan.Separators(), stackTable, o.maxLogEntries);
    // A second read that fails keeps every entry: nothing is trimmed.
    if (start) return {LogWrite::Kind::Replace, *start};
  }
  return append;
}

LogUpdate UpdateLog(std::string content, const std::string& entry, const std::string& stackTable,
                    const std::string& versionNumber, const CrashOptions& o) {
  const LogEdit edit = PlanLogEdit(content.size(), StringReader(content), stackTable, versionNumber, o);
  if (edit.kind == LogWrite::Kind::Nothing) return {std::move(content), true};
  content.erase(0, static_cast<std::size_t>(edit.keepFrom));
  content += entry;
  return {std::move(content), false};
}

LogWrite PlanLogWrite(const std::optional<std::string>& content, const std::string& entry,
                      const std::string& stackTable, const std::string& versionNumber,
                      const CrashOptions& o) {
  if (!content) return {LogWrite::Kind::Append, entry};
  const LogEdit edit = PlanLogEdit(content->size(), StringReader(*content), stackTable, versionNumber, o);
  if (edit.kind != LogWrite::Kind::Replace)
    return {edit.kind, edit.kind == LogWrite::Kind::Append ? entry : ""};
  return {LogWrite::Kind::Replace, content->substr(static_cast<std::size_t>(edit.keepFrom)) + entry};
}

}  // namespace tarnwick
