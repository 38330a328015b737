#include "fleet/Csv.h"

namespace tarnwick::fleet {

namespace {

bool AtLineEnd(std::string_view text, std::size_t i) {
  return i >= text.size() || text[i] == '\n' ||
         (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] == '\n'));
}

std::size_t SkipLineEnd(std::string_view text, std::size_t i) {
  if (i < text.size() && text[i] == '\r') ++i;
  if (i < text.size() && text[i] == '\n') ++i;
  return i;
}

}  // namespace

CsvResult ParseCsv(std::string_view text) {
  CsvResult result;
  int line = 1;
  std::size_t i = 0;
  // A byte-order mark from a spreadsheet's "CSV UTF-8" export is not part of
  // the first header name.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") i = 3;
  while (i < text.size()) {
    if (AtLineEnd(text, i)) {
      i = SkipLineEnd(text, i);
      ++line;
      continue;
    }
    if (text[i] == '#') {
      while (!AtLineEnd(text, i)) ++i;
      continue;
    }
    CsvRecord record;
    record.line = line;
    for (;;) {
      std::string field;
      if (i < text.size() && text[i] == '"') {
        const int opened = line;
        ++i;
        for (;;) {
          if (i >= text.size()) {
            result.error = "quoted field opened here is never closed";
            result.errorLine = opened;
            return result;
          }
          char c = text[i++];
          if (c == '"') {
            if (i < text.size() && text[i] == '"') {
              field += '"';
              ++i;
              continue;
            }
            break;
          }
          if (c == '\n') ++line;
          field += c;
        }
        if (!AtLineEnd(text, i) && text[i] != ',') {
          result.error = "text after a closing quote (a quote inside a field must be doubled)";
          result.errorLine = line;
          return result;
        }
      } else {
        while (!AtLineEnd(text, i) && text[i] != ',') {
          if (text[i] == '"') {
            result.error = "quote inside an unquoted field (quote the whole field and double the quote)";
            result.errorLine = line;
            return result;
          }
          field += text[i++];
        }
      }
      record.fields.push_back(std::move(field));
      if (i < text.size() && text[i] == ',') {
        ++i;
        continue;
      }
      break;
    }
    result.records.push_back(std::move(record));
    if (i < text.size()) {
      i = SkipLineEnd(text, i);
      ++line;
    }
  }
  return result;
}

}  // namespace tarnwick::fleet
