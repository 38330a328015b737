#include "fleet/Inventory.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <set>

#include "app/TransferNames.h"
#include "base/TextCodec.h"
#include "cliutil/BoundedDecimal.h"
#include "fleet/Csv.h"

namespace tarnwick::fleet {

namespace {

// Room for "<name>.cfg" and the history time stamps under a 255-byte limit
// on one path component.
constexpr std::size_t kMaxNameBytes = 100;
constexpr std::size_t kMaxPatternBytes = 200;
// A TFTP file name the device sends fits one path component.
constexpr std::size_t kMaxPushBytes = 255;

enum Column {
  kName,
  kHost,
  kPort,
  kRemote,
  kPassword,
  kDelimiter,
  kBlksize,
  kWindowsize,
  kTimeout,
  kRetries,
  kTsize,
  kMinRatio,
  kExpect,
  kIgnore,
  kEnabled,
  kPush,
  kColumnCount
};
constexpr std::array<const char*, kColumnCount> kColumnNames = {
    "name",    "host",    "port",  "remote",    "password", "delimiter", "blksize", "windowsize",
    "timeout", "retries", "tsize", "min_ratio", "expect",   "ignore",    "enabled", "push"};
constexpr int kRequiredColumns = 6;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Longest number cell read (the largest, a timeout, has 6 digits; a few
// leading zeros pass).
constexpr std::size_t kCellDigits = 10;

bool ParseNumber(const std::string& text, std::uint64_t low, std::uint64_t high, std::uint64_t& out) {
  return cli::ParseBoundedDecimal(text, kCellDigits, low, high, out);
}

}  // namespace

bool ParseRatio(const std::string& text, double& out) {
  if (text.empty() || text.size() > 12) return false;
  double value = 0, scale = 1;
  bool dot = false, digit = false;
  for (char c : text) {
    if (c == '.' && !dot) {
      dot = true;
    } else if (c >= '0' && c <= '9') {
      digit = true;
      if (dot)
        value += (scale /= 10) * (c - '0');
      else
        value = value * 10 + (c - '0');
    } else {
      return false;
    }
  }
  if (!digit || value > 1) return false;
  out = value;
  return true;
}

std::string PatternFault(const std::string& pattern, archive::Pattern* compiled) {
  // Every engine bounds what a pattern may unfold to; the length limit
  // keeps an inventory cell's messages short.
  if (pattern.size() > kMaxPatternBytes) return "longer than " + std::to_string(kMaxPatternBytes) + " bytes";
  archive::Pattern checked;
  std::string why;
  if (!archive::Pattern::Compile(pattern, checked, why)) return "not a regular expression (" + why + ")";
  if (compiled) *compiled = std::move(checked);
  return {};
}

namespace {

bool IsReservedWindowsName(std::string_view name) {
  // The part before the first dot decides: "con.cfg" opens the console too.
  std::string stem = Lower(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const std::set<std::string> kReserved = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  if (kReserved.count(stem)) return true;
  return stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
         stem[3] >= '0' && stem[3] <= '9';
}

struct RowReader {
  const CsvRecord& record;
  const std::array<int, kColumnCount>& where;
  std::string Cell(Column c) const {
    int index = where[c];
    return index < 0 ? std::string() : record.fields[static_cast<std::size_t>(index)];
  }
};

// Every fault of the row, joined, so one pass over the file fixes it.
void AddFault(Device& d, const std::string& why) { d.fault += (d.fault.empty() ? "" : "; ") + why; }

Device ReadRow(const CsvRecord& record, std::size_t columns, const std::array<int, kColumnCount>& where,
               const DeviceDefaults& defaults, std::set<std::string>& seen) {
  Device d;
  d.line = record.line;
  if (record.fields.size() != columns) {
    d.name = record.fields.empty() ? std::string() : Printable(record.fields[0]);
    if (d.name.empty()) d.name = "(line " + std::to_string(d.line) + ")";
    AddFault(d, "the row has " + std::to_string(record.fields.size()) + " fields, the header " +
                    std::to_string(columns));
    return d;
  }
  RowReader row{record, where};
  d.name = row.Cell(kName);
  if (std::string nameFault = DeviceNameFault(d.name); !nameFault.empty()) {
    AddFault(d, nameFault + " (\"" + Printable(d.name) + "\")");
    // The report still lists the row, under a name that is safe to print.
    d.name = d.name.empty() ? "(line " + std::to_string(d.line) + ")" : Printable(d.name);
    return d;
  }
  if (!seen.insert(Lower(d.name)).second) {
    AddFault(d, "device \"" + d.name + "\" appears twice");
    return d;
  }
  d.host = TrimName(row.Cell(kHost));
  if (d.host.empty()) AddFault(d, "device \"" + d.name + "\" has no host");
  d.port = TrimName(row.Cell(kPort));
  if (d.port.empty()) d.port = defaults.port;
  std::uint64_t number = 0;
  if (!ParseNumber(d.port, 1, 65535, number))
    AddFault(d, "port \"" + Printable(d.port) + "\" is not 1..65535");

  d.remote = row.Cell(kRemote);
  d.password = row.Cell(kPassword);
  std::string& delimiter = d.delimiter;
  delimiter = row.Cell(kDelimiter);
  if (delimiter.empty()) delimiter = defaults.delimiter;
  std::string pushFault;
  d.push = ResolvePush(row.Cell(kPush), d.name, pushFault);
  if (!pushFault.empty()) AddFault(d, pushFault);
  if (TrimName(d.remote).empty()) {
    // A device that uploads its own configuration needs no remote name.
    d.remote.clear();
    if (d.push.empty() && pushFault.empty()) AddFault(d, "device \"" + d.name + "\" has no remote file name");
  } else if (!Utf8ToCp932(d.remote)) {
    AddFault(d, "remote name \"" + Printable(d.remote) + "\" cannot be written in CP932");
  } else {
    std::optional<std::string> wire =
        Utf8ToCp932(RemoteName(TransferDirection::Receive, {d.remote, d.password, delimiter, true}));
    if (wire)
      d.wireName = *wire;
    else
      AddFault(d, "the password or delimiter of device \"" + d.name + "\" cannot be written in CP932");
  }

  struct Limit {
    Column column;
    std::uint64_t low, high;
  };
  d.timeoutMs = defaults.timeoutMs;
  d.retries = defaults.retries;
  for (Limit limit : {Limit{kBlksize, 8, 65464}, Limit{kWindowsize, 1, 65535}, Limit{kTimeout, 1, 600000},
                      Limit{kRetries, 1, 100}}) {
    std::string cell = TrimName(row.Cell(limit.column));
    if (cell.empty()) continue;
    if (!ParseNumber(cell, limit.low, limit.high, number)) {
      AddFault(d, std::string(kColumnNames[limit.column]) + " \"" + Printable(cell) + "\" is not " +
                      std::to_string(limit.low) + ".." + std::to_string(limit.high));
      continue;
    }
    if (limit.column == kBlksize) d.blockSize = static_cast<std::uint32_t>(number);
    if (limit.column == kWindowsize) d.windowSize = static_cast<std::uint32_t>(number);
    if (limit.column == kTimeout) d.timeoutMs = static_cast<std::uint32_t>(number);
    if (limit.column == kRetries) d.retries = static_cast<int>(number);
  }

  d.tsize = defaults.tsize;
  const std::string tsize = Lower(TrimName(row.Cell(kTsize)));
  if (tsize == "yes" || tsize == "no")
    d.tsize = tsize == "yes";
  else if (!tsize.empty())
    AddFault(d, "tsize \"" + Printable(tsize) + "\" is not yes or no");

  d.minRatio = defaults.minRatio;
  const std::string ratio = TrimName(row.Cell(kMinRatio));
  if (!ratio.empty() && !ParseRatio(ratio, d.minRatio))
    AddFault(d, "min_ratio \"" + Printable(ratio) + "\" is not a fraction from 0 to 1");

  const std::string enabled = Lower(TrimName(row.Cell(kEnabled)));
  if (enabled == "yes" || enabled == "no")
    d.enabled = enabled == "yes";
  else if (!enabled.empty())
    AddFault(d, "enabled \"" + Printable(enabled) + "\" is not yes or no");
  d.ignoreSet = TrimName(row.Cell(kIgnore));

  std::string expect = row.Cell(kExpect);
  if (expect.empty()) expect = defaults.expect;
  if (!expect.empty()) {
    archive::Pattern compiled;
    std::string why = PatternFault(expect, &compiled);
    if (why.empty())
      d.expect = std::move(compiled);
    else
      AddFault(d, "expect \"" + Printable(expect) + "\": " + why);
  }
  return d;
}

}  // namespace

std::string ResolvePush(const std::string& cell, const std::string& name, std::string& fault) {
  fault.clear();
  std::string push = TrimName(cell);
  const std::string lower = Lower(push);
  if (lower.empty() || lower == "no") return {};
  if (lower == "yes") return name + ".cfg";
  if (push.size() > kMaxPushBytes)
    fault = "push \"" + Printable(push.substr(0, 40)) + "...\" is longer than " +
            std::to_string(kMaxPushBytes) + " bytes";
  else if (std::any_of(push.begin(), push.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 32 || c == '\x7f'; }))
    fault = "push \"" + Printable(push) + "\" holds a control byte";
  else if (!Utf8ToUtf16Strict(push))
    fault = "push \"" + Printable(push) + "\" is not valid UTF-8";
  else if (std::size_t at = push.find_first_of("[]{}\\"); at != std::string::npos)
    // Only '*' and '?' match: a set or an escape would silently match
    // nothing the administrator meant.
    fault = "push \"" + Printable(push) + "\" holds '" + push[at] +
            "', which a push name does not understand (only * and ? match)";
  return fault.empty() ? push : std::string();
}

std::string Printable(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127 || c == '\\') {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string DeviceNameFault(std::string_view name) {
  if (name.empty()) return "the device name is empty";
  if (name.size() > kMaxNameBytes)
    return "the device name is longer than " + std::to_string(kMaxNameBytes) + " bytes";
  if (name == "." || name == "..") return "the device name \"" + std::string(name) + "\" is not a file name";
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127) return "the device name holds a control byte";
    if (std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
      return std::string("the device name holds '") + c + "', which cannot be in a file name";
  }
  if (name.front() == '.') return "the device name starts with a dot (hidden and temporary files do)";
  if (name.back() == ' ' || name.back() == '.') return "the device name ends with a blank or a dot";
  if (!Utf8ToUtf16Strict(name)) return "the device name is not valid UTF-8";
  if (IsReservedWindowsName(name)) return "the device name is a reserved name on Windows";
  return {};
}

Inventory ParseInventory(std::string_view text, const DeviceDefaults& defaults) {
  Inventory inventory;
  auto fatal = [&](int line, std::string message) {
    inventory.errors.push_back({line, std::move(message)});
    inventory.usable = false;
  };

  CsvResult csv = ParseCsv(text);
  if (csv.records.empty()) {
    if (!csv.error.empty())
      fatal(csv.errorLine, csv.error);
    else
      fatal(1, "no header row (name,host,port,remote,password,delimiter)");
    return inventory;
  }

  const CsvRecord& header = csv.records.front();
  std::array<int, kColumnCount> where;
  where.fill(-1);
  for (std::size_t i = 0; i < header.fields.size(); ++i) {
    std::string column = Lower(TrimName(header.fields[i]));
    int found = -1;
    for (std::size_t c = 0; c < kColumnNames.size(); ++c)
      if (column == kColumnNames[c]) found = static_cast<int>(c);
    if (found < 0)
      inventory.warnings.push_back("column \"" + Printable(column) + "\" is not ours and is ignored");
    else if (where[static_cast<std::size_t>(found)] >= 0)
      fatal(header.line, "column \"" + column + "\" appears twice");
    else
      where[static_cast<std::size_t>(found)] = static_cast<int>(i);
  }
  for (int c = 0; c < kRequiredColumns; ++c)
    if (where[static_cast<std::size_t>(c)] < 0)
      fatal(header.line,
            std::string("the header has no \"") + kColumnNames[static_cast<std::size_t>(c)] + "\" column");
  if (!inventory.usable) return inventory;

  std::set<std::string> seen;  // lower case: Windows and macOS folders do not tell case apart
  for (std::size_t r = 1; r < csv.records.size(); ++r) {
    Device d = ReadRow(csv.records[r], header.fields.size(), where, defaults, seen);
    if (!d.password.empty()) inventory.holdsPasswords = true;
    if (!d.fault.empty()) inventory.errors.push_back({d.line, d.fault});
    inventory.devices.push_back(std::move(d));
  }
  if (!csv.error.empty()) {
    // The records before a broken quote are good; what follows it cannot be
    // told apart, so it is one failure that names where reading stopped.
    Device d;
    d.line = csv.errorLine;
    d.name = "(line " + std::to_string(csv.errorLine) + ")";
    d.fault = csv.error + "; the rest of the inventory was not read";
    inventory.errors.push_back({d.line, d.fault});
    inventory.devices.push_back(std::move(d));
  }
  if (inventory.devices.empty()) fatal(header.line, "the inventory lists no device");
  return inventory;
}

}  // namespace tarnwick::fleet
