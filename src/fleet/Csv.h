// RFC 4180 records for the backup inventory: comma-separated fields, a field
// in double quotes may hold commas, line breaks and doubled quotes. Lines
// that start with '#' outside a record are comments; blank lines are skipped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::fleet {

struct CsvRecord {
  int line = 0;  // where the record starts (1-based)
  std::vector<std::string> fields;
};

struct CsvResult {
  std::vector<CsvRecord> records;
  // The first fault that makes the rest unreadable (a stray quote, a quoted
  // field left open at the end); the records before it are kept.
  std::string error;
  int errorLine = 0;
};

CsvResult ParseCsv(std::string_view text);

}  // namespace tarnwick::fleet
