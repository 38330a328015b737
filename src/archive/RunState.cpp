// The state file is text, one device a line, so a person can read it and a
// damaged line is easy to skip:
//
//   tarnwick-state 2
//   <name> TAB <attempt> TAB <success> TAB <change> TAB <failing since> TAB <error time> TAB <error>
//     TAB <last push> TAB <push sender>
//
// Times are decimal UTC seconds. In names, errors and senders a backslash,
// tab, line break and every other control byte is written as a backslash
// escape (\\ \t \n \r \xHH), so each record is exactly one line of nine
// fields. Version 1 files (written before devices could push) have the first
// seven fields only and are still read.
#include "archive/RunState.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <string_view>

namespace tarnwick::archive {
namespace {

constexpr std::string_view kHeader = "tarnwick-state 2";
constexpr std::string_view kHeaderBeforePushes = "tarnwick-state 1";
constexpr std::size_t kFields = 9;
constexpr std::size_t kFieldsBeforePushes = 7;

std::string Escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescaped(std::string_view text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\':
        out += '\\';
        break;
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

// Decimal digits only, no sign, no overflow.
bool ParseTime(std::string_view text, std::int64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t tab = line.find('\t', start);
    fields.push_back(
        line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

// Why the line is not a record, or empty when `device` now holds it.
std::string ParseRecord(std::string_view line, std::size_t expected, DeviceState& device) {
  std::vector<std::string_view> fields = SplitTabs(line);
  if (fields.size() != expected)
    return std::to_string(fields.size()) + " fields instead of " + std::to_string(expected);
  if (!Unescaped(fields[0], device.name) || device.name.empty()) return "no readable device name";
  std::int64_t* times[] = {&device.lastAttempt, &device.lastSuccess, &device.lastChange, &device.failingSince,
                           &device.lastErrorTime};
  for (std::size_t i = 0; i < 5; ++i) {
    if (!ParseTime(fields[i + 1], *times[i])) return "a time that is not a number of seconds";
  }
  if (!Unescaped(fields[6], device.lastError)) return "a broken escape in the error text";
  if (expected == kFieldsBeforePushes) return {};
  if (!ParseTime(fields[7], device.lastPush)) return "a time that is not a number of seconds";
  if (!Unescaped(fields[8], device.lastPushFrom)) return "a broken escape in the push sender";
  return {};
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian), exact for
// every int64 day count the state file can hold.
void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;  // March = 0
  day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

DeviceState& StateOf(RunState& state, const std::string& name) {
  for (DeviceState& device : state.devices) {
    if (device.name == name) return device;
  }
  state.devices.push_back(DeviceState{});
  state.devices.back().name = name;
  return state.devices.back();
}

void RecordAttempt(RunState& state, const std::string& name, std::int64_t now, bool succeeded, bool changed,
                   const std::string& error) {
  DeviceState& device = StateOf(state, name);
  device.lastAttempt = now;
  if (succeeded) {
    device.lastSuccess = now;
    device.failingSince = 0;
    if (changed) device.lastChange = now;
    return;
  }
  device.lastErrorTime = now;
  device.lastError = error;
  // A start of failures in the future is a clock that was wrong then.
  if (device.failingSince == 0 || device.failingSince > now) device.failingSince = now;
}

void RecordPush(RunState& state, const std::string& name, std::int64_t now, bool succeeded, bool changed,
                const std::string& error, const std::string& from) {
  RecordAttempt(state, name, now, succeeded, changed, error);
  DeviceState& device = StateOf(state, name);
  device.lastPush = now;
  device.lastPushFrom = from;
}

void AwaitPush(RunState& state, const std::string& name, std::int64_t now) {
  DeviceState& device = StateOf(state, name);
  if (device.lastSuccess == 0 && (device.failingSince == 0 || device.failingSince > now))
    device.failingSince = now;
}

InventoryChange CompareInventory(const RunState& state, const std::vector<std::string>& inventory) {
  std::set<std::string> known, named(inventory.begin(), inventory.end());
  for (const DeviceState& device : state.devices) known.insert(device.name);
  InventoryChange change;
  for (const std::string& name : inventory) {
    if (!known.count(name)) change.added.push_back(name);
  }
  for (const DeviceState& device : state.devices) {
    if (!named.count(device.name)) change.gone.push_back(device.name);
  }
  return change;
}

std::string SerializeRunState(const RunState& state) {
  std::string out(kHeader);
  out += '\n';
  for (const DeviceState& d : state.devices) {
    out += Escaped(d.name);
    for (std::int64_t time : {d.lastAttempt, d.lastSuccess, d.lastChange, d.failingSince, d.lastErrorTime}) {
      out += '\t';
      out += std::to_string(std::max<std::int64_t>(time, 0));
    }
    out += '\t';
    out += Escaped(d.lastError);
    out += '\t';
    out += std::to_string(std::max<std::int64_t>(d.lastPush, 0));
    out += '\t';
    out += Escaped(d.lastPushFrom);
    out += '\n';
  }
  return out;
}

ParsedRunState ParseRunState(const std::string& bytes) {
  ParsedRunState parsed;
  std::string_view text(bytes);
  std::size_t end = text.find('\n');
  std::string_view header = text.substr(0, end);
  if (!header.empty() && header.back() == '\r') header.remove_suffix(1);
  const std::size_t expected = header == kHeader               ? kFields
                               : header == kHeaderBeforePushes ? kFieldsBeforePushes
                                                               : 0;
  if (expected == 0) {
    parsed.warnings.push_back("state file: not a state file this version reads (first line \"" +
                              Escaped(std::string(header.substr(0, 40))) + "\"): starting with no history");
    return parsed;
  }
  std::set<std::string> seen;
  int lineNumber = 1;
  while (end != std::string_view::npos && end + 1 < text.size()) {
    std::size_t start = end + 1;
    end = text.find('\n', start);
    ++lineNumber;
    const std::string where = "state file line " + std::to_string(lineNumber) + ": ";
    // The file is written whole; a last line without its line break is what
    // a cut-off copy looks like.
    if (end == std::string_view::npos) {
      parsed.warnings.push_back(where + "cut off, skipped");
      break;
    }
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    DeviceState device;
    std::string why = ParseRecord(line, expected, device);
    if (why.empty() && !seen.insert(device.name).second) why = "a second record for " + Escaped(device.name);
    if (!why.empty()) {
      parsed.warnings.push_back(where + why + ", skipped");
      continue;
    }
    parsed.state.devices.push_back(std::move(device));
  }
  return parsed;
}

std::vector<StaleDevice> StaleDevices(const RunState& state, std::int64_t now, int hours) {
  return StaleDevices(state, now, hours, {});
}

std::vector<StaleDevice> StaleDevices(const RunState& state, std::int64_t now, int hours,
                                      const std::set<std::string>& pushOnly) {
  const std::int64_t limit = static_cast<std::int64_t>(std::max(hours, 0)) * 3600;
  std::vector<StaleDevice> stale;
  for (const DeviceState& d : state.devices) {
    if (d.lastSuccess > 0 && d.lastSuccess <= now) {
      if (now - d.lastSuccess > limit) stale.push_back({d.name, d.lastSuccess, false});
    } else if (d.lastSuccess > now) {
      // A success a wrong clock put in the future says nothing: the device
      // is as stale as its failures since make it.
      if (d.failingSince > 0 && d.failingSince <= now && now - d.failingSince > limit)
        stale.push_back({d.name, d.failingSince, false});
    } else if (d.failingSince > 0 && !pushOnly.count(d.name)) {
      stale.push_back({d.name, d.failingSince, true});
    } else if (d.failingSince > 0 && d.failingSince <= now && now - d.failingSince > limit) {
      stale.push_back({d.name, d.failingSince, true});
    }
  }
  std::stable_sort(stale.begin(), stale.end(),
                   [](const StaleDevice& a, const StaleDevice& b) { return a.since < b.since; });
  return stale;
}

std::vector<std::string> SuccessesInTheFuture(const RunState& state, std::int64_t now) {
  std::vector<std::string> names;
  for (const DeviceState& d : state.devices)
    if (d.lastSuccess > now) names.push_back(d.name);
  return names;
}

std::string StaleLine(const std::vector<StaleDevice>& stale) {
  if (stale.empty()) return "no device stale";
  if (stale.size() == 1) return "1 device stale, since " + UtcMinuteText(stale.front().since);
  return std::to_string(stale.size()) + " devices stale, the oldest since " +
         UtcMinuteText(stale.front().since);
}

std::string UtcMinuteText(std::int64_t seconds) {
  std::int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  std::int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02u:%02u UTC", static_cast<long long>(year), month, day,
                static_cast<unsigned>(rest / 3600), static_cast<unsigned>(rest % 3600 / 60));
  return text;
}

}  // namespace tarnwick::archive
