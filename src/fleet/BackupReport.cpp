#include "fleet/BackupReport.h"

#include <algorithm>
#include <cstdio>

#include "archive/RunState.h"
#include "base/TextCodec.h"

namespace tarnwick::fleet {

const char* ResultName(DeviceResult result) {
  switch (result) {
    case DeviceResult::Changed:
      return "changed";
    case DeviceResult::Unchanged:
      return "unchanged";
    case DeviceResult::Failed:
      return "failed";
    case DeviceResult::Interrupted:
      return "interrupted";
    case DeviceResult::NotReached:
      return "not reached";
    case DeviceResult::Disabled:
      return "disabled";
    case DeviceResult::New:
      return "new";
    case DeviceResult::Pushed:
      return "pushed";
    case DeviceResult::NotPushed:
      return "not pushed";
  }
  return "?";
}

std::string IntakeName(const DeviceReport& row) {
  if (row.pushOnly) return "push";
  return row.pushes || row.lastPush ? "pull+push" : "pull";
}

std::string LastPushText(const DeviceReport& row) {
  if (!row.lastPush) return "";
  return archive::UtcMinuteText(row.lastPush) + (row.lastPushFrom.empty() ? "" : " from " + row.lastPushFrom);
}

DeviceResult ResultOf(archive::Fate fate) {
  switch (fate) {
    case archive::Fate::New:
      return DeviceResult::New;
    case archive::Fate::Changed:
      return DeviceResult::Changed;
    case archive::Fate::Unchanged:
      return DeviceResult::Unchanged;
    case archive::Fate::Refused:
    case archive::Fate::Failed:
      break;
  }
  return DeviceResult::Failed;
}

RunTotals CountResults(const std::vector<DeviceReport>& rows) {
  RunTotals t;
  for (const DeviceReport& r : rows) {
    switch (r.result) {
      case DeviceResult::Changed:
        ++t.changed;
        break;
      case DeviceResult::Unchanged:
        ++t.unchanged;
        break;
      case DeviceResult::Failed:
        ++t.failed;
        break;
      case DeviceResult::Interrupted:
        ++t.interrupted;
        break;
      case DeviceResult::NotReached:
        ++t.notReached;
        break;
      case DeviceResult::Disabled:
        ++t.disabled;
        break;
      case DeviceResult::New:
        ++t.created;
        break;
      case DeviceResult::Pushed:
        ++t.pushed;
        break;
      case DeviceResult::NotPushed:
        ++t.notPushed;
        break;
    }
  }
  return t;
}

namespace {

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", s);
  return text;
}

std::string Detail(const DeviceReport& r) {
  if (r.pushOnly) {
    std::string detail = r.lastPush ? "last push " + OneLineText(LastPushText(r)) : "no push received";
    return r.error.empty() ? detail : detail + ": " + OneLineText(r.error);
  }
  if (r.result == DeviceResult::Changed && !r.history.empty()) return "previous kept as " + r.history;
  if (r.errorCode >= 0) return "ERROR " + std::to_string(r.errorCode) + ": " + OneLineText(r.error);
  return OneLineText(r.error);
}

// "2026-12-08T01:30:00Z", as the reports' other times.
std::string IsoSeconds(std::int64_t t) {
  const std::int64_t second = ((t % 60) + 60) % 60;
  std::string minute = archive::UtcMinuteText(t);  // "2026-12-08 01:30 UTC"
  char tail[8];
  std::snprintf(tail, sizeof tail, ":%02d", static_cast<int>(second));
  return minute.substr(0, 10) + "T" + minute.substr(11, 5) + tail + "Z";
}

std::string Pad(std::string text, std::size_t width) {
  text = BidiEscaped(text);
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

std::string TotalsLine(const RunTotals& t, std::size_t devices) {
  std::string line = std::to_string(devices) +
                     " devices: " + (t.created ? std::to_string(t.created) + " new, " : std::string()) +
                     std::to_string(t.changed) + " changed, " + std::to_string(t.unchanged) + " unchanged, " +
                     std::to_string(t.failed) + " failed";
  if (t.interrupted) line += ", " + std::to_string(t.interrupted) + " interrupted";
  if (t.notReached) line += ", " + std::to_string(t.notReached) + " not reached";
  if (t.disabled) line += ", " + std::to_string(t.disabled) + " disabled";
  if (t.pushed) line += ", " + std::to_string(t.pushed) + " pushed";
  if (t.notPushed) line += ", " + std::to_string(t.notPushed) + " not pushed";
  return line;
}

std::string SummaryText(const std::vector<DeviceReport>& rows) {
  return SummaryTable(rows) + TotalsLine(CountResults(rows), rows.size()) + "\n";
}

std::string SummaryTable(const std::vector<DeviceReport>& rows) {
  std::size_t nameWidth = 6, hostWidth = 4;
  for (const DeviceReport& r : rows) {
    nameWidth = std::max(nameWidth, BidiEscaped(r.name).size());
    hostWidth = std::max(hostWidth, BidiEscaped(r.host).size());
  }
  std::string text = Pad("device", nameWidth) + "  " + Pad("host", hostWidth) + "  " + Pad("result", 11) +
                     "  " + Pad("bytes", 10) + "  " + Pad("seconds", 8) + "  detail\n";
  for (const DeviceReport& r : rows) {
    std::string line = Pad(r.name, nameWidth) + "  " + Pad(r.host, hostWidth) + "  " +
                       Pad(ResultName(r.result), 11) + "  " + Pad(std::to_string(r.bytes), 10) + "  " +
                       Pad(Seconds(r.seconds), 8) + "  " + BidiEscaped(Detail(r)) +
                       (r.stale ? " (stale)" : "");
    while (!line.empty() && line.back() == ' ') line.pop_back();
    text += line + "\n";
  }
  return text;
}

namespace {

// Length of the UTF-8 sequence at text[i] (shortest form, no surrogates,
// at most U+10FFFF), 0 when the bytes there are not one.
std::size_t Utf8SequenceAt(const std::string& text, std::size_t i) {
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = at(i);
  std::size_t n = 0;
  unsigned char low = 0x80, high = 0xbf;
  if (c < 0x80) return 1;
  if (c >= 0xc2 && c <= 0xdf)
    n = 2;
  else if (c >= 0xe0 && c <= 0xef) {
    n = 3;
    if (c == 0xe0) low = 0xa0;
    if (c == 0xed) high = 0x9f;
  } else if (c >= 0xf0 && c <= 0xf4) {
    n = 4;
    if (c == 0xf0) low = 0x90;
    if (c == 0xf4) high = 0x8f;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  if (at(i + 1) < low || at(i + 1) > high) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (at(i + k) < 0x80 || at(i + k) > 0xbf) return 0;
  return n;
}

}  // namespace

char32_t BidiControlAt(std::string_view text, std::size_t i) {
  if (i + 2 >= text.size() || static_cast<unsigned char>(text[i]) != 0xE2) return 0;
  const auto b1 = static_cast<unsigned char>(text[i + 1]), b2 = static_cast<unsigned char>(text[i + 2]);
  const char32_t point = 0x2000 + ((b1 & 0x3F) << 6) + (b2 & 0x3F);
  if ((b1 & 0xC0) != 0x80 || (b2 & 0xC0) != 0x80) return 0;
  const bool bidi = point == 0x200E || point == 0x200F || (point >= 0x202A && point <= 0x202E) ||
                    (point >= 0x2066 && point <= 0x2069);
  return bidi ? point : 0;
}

std::string BidiEscaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (const char32_t point = BidiControlAt(text, i)) {
      char escape[16];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(point));
      out += escape;
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t n = Utf8SequenceAt(text, i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += text[i];
    } else if (byte < 32 || byte == 127 || BidiControlAt(text, i)) {
      char escape[16];
      std::snprintf(escape, sizeof escape, "\\u%04x",
                    n == 1 ? byte : static_cast<unsigned>(BidiControlAt(text, i)));
      out += escape;
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out + "\"";
}

std::string CsvField(const std::string& text) {
  std::string cell = BidiEscaped(text);
  if (!cell.empty() && std::string_view("=+-@\t\r").find(cell.front()) != std::string_view::npos)
    cell.insert(cell.begin(), '\'');
  if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
  std::string out = "\"";
  for (char c : cell) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string JsonReport(const std::vector<DeviceReport>& rows, const RunFacts& run) {
  RunTotals t = CountResults(rows);
  std::string out =
      "{\n  \"started\": " + JsonString(run.started) + ",\n  \"finished\": " + JsonString(run.finished) +
      ",\n  \"totals\": {\"devices\": " + std::to_string(rows.size()) +
      (t.created ? ", \"new\": " + std::to_string(t.created) : std::string()) +
      ", \"changed\": " + std::to_string(t.changed) + ", \"unchanged\": " + std::to_string(t.unchanged) +
      ", \"failed\": " + std::to_string(t.failed) + ", \"interrupted\": " + std::to_string(t.interrupted) +
      ", \"not_reached\": " + std::to_string(t.notReached) +
      (t.disabled ? ", \"disabled\": " + std::to_string(t.disabled) : std::string()) +
      (t.pushed ? ", \"pushed\": " + std::to_string(t.pushed) : std::string()) +
      (t.notPushed ? ", \"not_pushed\": " + std::to_string(t.notPushed) : std::string()) + "},\n";
  if (!run.staleLine.empty()) out += "  \"stale\": " + JsonString(run.staleLine) + ",\n";
  const auto names = [](const std::vector<std::string>& list) {
    std::string text = "[";
    for (std::size_t i = 0; i < list.size(); ++i) text += (i ? ", " : "") + JsonString(list[i]);
    return text + "]";
  };
  out += "  \"added\": " + names(run.added) + ",\n  \"gone\": " + names(run.gone) + ",\n";
  if (!run.pruned.empty()) out += "  \"pruned\": " + names(run.pruned) + ",\n";
  if (run.archive.attempted) {
    out += "  \"archive\": {\"result\": " + JsonString(!run.archive.ok              ? "failed"
                                                       : run.archive.commit.empty() ? "unchanged"
                                                                                    : "committed");
    if (!run.archive.commit.empty()) out += ", \"commit\": " + JsonString(run.archive.commit);
    if (!run.archive.error.empty()) out += ", \"error\": " + JsonString(run.archive.error);
    out += "},\n";
  }
  out += "  \"devices\": [";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const DeviceReport& r = rows[i];
    out += i ? ",\n    {" : "\n    {";
    out += "\"device\": " + JsonString(r.name) + ", \"host\": " + JsonString(r.host) +
           ", \"result\": " + JsonString(ResultName(r.result)) + ", \"bytes\": " + std::to_string(r.bytes) +
           ", \"seconds\": " + Seconds(r.seconds);
    if (r.errorCode >= 0) out += ", \"error_code\": " + std::to_string(r.errorCode);
    if (!r.error.empty()) out += ", \"error\": " + JsonString(r.error);
    if (!r.history.empty()) out += ", \"history\": " + JsonString(r.history);
    if (r.stale) out += ", \"stale\": true";
    if (r.pushOnly || r.pushes || r.lastPush) out += ", \"via\": " + JsonString(IntakeName(r));
    if (r.lastPush)
      out += ", \"last_push\": " + JsonString(IsoSeconds(r.lastPush)) +
             ", \"last_push_from\": " + JsonString(r.lastPushFrom);
    if (!r.diff.empty()) out += ", \"diff\": " + JsonString(r.diff);
    if (!r.diff.empty() && !run.archive.commit.empty())
      out += ", \"commit\": " + JsonString(run.archive.commit);
    out += "}";
  }
  return out + (rows.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

std::string CsvReport(const std::vector<DeviceReport>& rows, const RunFacts& run) {
  // The push columns come last: readers that count columns keep theirs.
  std::string out =
      "device,host,result,bytes,seconds,error_code,error,history,via,last_push,last_push_from\r\n";
  for (const DeviceReport& r : rows) {
    out += CsvField(r.name) + "," + CsvField(r.host) + "," + CsvField(ResultName(r.result)) + "," +
           std::to_string(r.bytes) + "," + Seconds(r.seconds) + "," +
           (r.errorCode >= 0 ? std::to_string(r.errorCode) : "") + "," + CsvField(r.error) + "," +
           CsvField(r.history) + "," + IntakeName(r) + "," + (r.lastPush ? IsoSeconds(r.lastPush) : "") +
           "," + CsvField(r.lastPushFrom) + "\r\n";
  }
  // The run's own row: no device name, the finish time as its host cell.
  std::string archive;
  if (run.archive.attempted)
    archive = !run.archive.ok              ? "archive failed: " + run.archive.error
              : run.archive.commit.empty() ? "archive unchanged"
                                           : "archive commit " + run.archive.commit;
  out += ",finished " + CsvField(run.finished) + ",run,,,," + CsvField(archive) + ",,,,\r\n";
  return out;
}

std::string ScrubbedText(const std::string& text, const NameFields& fields, bool textIsCp932) {
  // Before decoding: the password's bytes may not sit on character
  // boundaries of the device's code page.
  std::string raw = WithoutPasswordEcho(text, fields);
  // Our own reasons are UTF-8 but may quote device bytes; anything that is
  // not valid UTF-8 is taken as the device's code page.
  std::string utf8 = (textIsCp932 || !Utf8ToUtf16Strict(raw)) ? Cp932ToUtf8(raw) : raw;
  return WithoutPasswordEcho(utf8, fields);
}

std::string ProgressLine(std::size_t done, std::size_t total, std::size_t failed) {
  return std::to_string(done) + "/" + std::to_string(total) + " devices done, " + std::to_string(failed) +
         " failed";
}

}  // namespace tarnwick::fleet
