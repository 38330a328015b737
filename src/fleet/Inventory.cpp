#include "fleet/Inventory.h"

#include <array>
#include <cctype>
#include <set>

#include "app/TransferNames.h"
#include "base/TextCodec.h"
#include "fleet/Csv.h"

namespace tarnwick::fleet {

namespace {

// Room for "<name>.cfg" and the history time stamps under a 255-byte limit
// on one path component.
constexpr std::size_t kMaxNameBytes = 100;

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
  kRetries
};
constexpr std::array<const char*, 10> kColumnNames = {
    "name", "host", "port", "remote", "password", "delimiter", "blksize", "windowsize", "timeout", "retries"};
constexpr int kRequiredColumns = 6;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool ParseNumber(const std::string& text, std::uint64_t low, std::uint64_t high, std::uint64_t& out) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value < low || value > high) return false;
  out = value;
  return true;
}

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
  const std::array<int, 10>& where;
  std::string Cell(Column c) const {
    int index = where[c];
    return index < 0 ? std::string() : record.fields[static_cast<std::size_t>(index)];
  }
};

}  // namespace

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
  auto fault = [&](int line, std::string message) { inventory.errors.push_back({line, std::move(message)}); };

  CsvResult csv = ParseCsv(text);
  if (csv.records.empty()) {
    if (!csv.error.empty())
      fault(csv.errorLine, csv.error);
    else
      fault(1, "no header row (name,host,port,remote,password,delimiter)");
    return inventory;
  }

  const CsvRecord& header = csv.records.front();
  std::array<int, 10> where;
  where.fill(-1);
  for (std::size_t i = 0; i < header.fields.size(); ++i) {
    std::string column = Lower(TrimName(header.fields[i]));
    int found = -1;
    for (std::size_t c = 0; c < kColumnNames.size(); ++c)
      if (column == kColumnNames[c]) found = static_cast<int>(c);
    if (found < 0)
      fault(header.line, "unknown column \"" + Printable(column) + "\"");
    else if (where[static_cast<std::size_t>(found)] >= 0)
      fault(header.line, "column \"" + column + "\" appears twice");
    else
      where[static_cast<std::size_t>(found)] = static_cast<int>(i);
  }
  for (int c = 0; c < kRequiredColumns; ++c)
    if (where[static_cast<std::size_t>(c)] < 0)
      fault(header.line,
            std::string("the header has no \"") + kColumnNames[static_cast<std::size_t>(c)] + "\" column");
  if (!inventory.errors.empty()) return inventory;

  std::set<std::string> seen;  // lower case: Windows and macOS folders do not tell case apart
  for (std::size_t r = 1; r < csv.records.size(); ++r) {
    const CsvRecord& record = csv.records[r];
    const int line = record.line;
    if (record.fields.size() != header.fields.size()) {
      fault(line, "the row has " + std::to_string(record.fields.size()) + " fields, the header " +
                      std::to_string(header.fields.size()));
      continue;
    }
    RowReader row{record, where};
    Device d;
    d.line = line;
    d.name = row.Cell(kName);
    std::string nameFault = DeviceNameFault(d.name);
    if (!nameFault.empty()) {
      fault(line, nameFault + " (\"" + Printable(d.name) + "\")");
      continue;
    }
    if (!seen.insert(Lower(d.name)).second) {
      fault(line, "device \"" + d.name + "\" appears twice");
      continue;
    }
    d.host = TrimName(row.Cell(kHost));
    if (d.host.empty()) fault(line, "device \"" + d.name + "\" has no host");
    d.port = TrimName(row.Cell(kPort));
    if (d.port.empty()) d.port = defaults.port;
    std::uint64_t number = 0;
    if (!ParseNumber(d.port, 1, 65535, number))
      fault(line, "port \"" + Printable(d.port) + "\" is not 1..65535");

    d.remote = row.Cell(kRemote);
    d.password = row.Cell(kPassword);
    std::string delimiter = row.Cell(kDelimiter);
    if (delimiter.empty()) delimiter = defaults.delimiter;
    if (TrimName(d.remote).empty()) {
      fault(line, "device \"" + d.name + "\" has no remote file name");
    } else if (!Utf8ToCp932(d.remote)) {
      fault(line, "remote name \"" + Printable(d.remote) + "\" cannot be written in CP932");
    } else {
      std::optional<std::string> wire =
          Utf8ToCp932(RemoteName(TransferDirection::Receive, {d.remote, d.password, delimiter, true}));
      if (wire)
        d.wireName = *wire;
      else
        fault(line, "the password or delimiter of device \"" + d.name + "\" cannot be written in CP932");
    }
    if (!d.password.empty()) inventory.holdsPasswords = true;

    struct Limit {
      Column column;
      std::uint64_t low, high;
    };
    for (Limit limit : {Limit{kBlksize, 8, 65464}, Limit{kWindowsize, 1, 65535}, Limit{kTimeout, 1, 600000},
                        Limit{kRetries, 1, 100}}) {
      std::string cell = TrimName(row.Cell(limit.column));
      if (cell.empty()) continue;
      if (!ParseNumber(cell, limit.low, limit.high, number)) {
        fault(line, std::string(kColumnNames[limit.column]) + " \"" + Printable(cell) + "\" is not " +
                        std::to_string(limit.low) + ".." + std::to_string(limit.high));
        continue;
      }
      if (limit.column == kBlksize) d.blockSize = static_cast<std::uint32_t>(number);
      if (limit.column == kWindowsize) d.windowSize = static_cast<std::uint32_t>(number);
      if (limit.column == kTimeout) d.timeoutMs = static_cast<std::uint32_t>(number);
      if (limit.column == kRetries) d.retries = static_cast<int>(number);
    }
    if (TrimName(row.Cell(kTimeout)).empty()) d.timeoutMs = defaults.timeoutMs;
    if (TrimName(row.Cell(kRetries)).empty()) d.retries = defaults.retries;
    inventory.devices.push_back(std::move(d));
  }
  if (!csv.error.empty()) fault(csv.errorLine, csv.error);
  if (inventory.errors.empty() && inventory.devices.empty())
    fault(header.line, "the inventory lists no device");
  return inventory;
}

}  // namespace tarnwick::fleet
