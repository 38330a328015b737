#include "crash/StackTable.h"

#include <algorithm>
#include <cstdio>

namespace tarnwick {

std::string UpperCase(std::string text) {
  // Bytes only: the names are file and class names, and lead bytes of
  // double-byte characters must stay untouched.
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string LeftCell(const std::string& text, std::size_t width) {
  std::string cell = "|" + text.substr(0, width);
  cell.append(width + 1 - cell.size(), ' ');
  return cell;
}

std::string RightCell(const std::string& text, std::size_t width) {
  const std::string cut = text.substr(0, width);
  return "|" + std::string(width - cut.size(), ' ') + cut;
}

std::string CentredCell(const std::string& text, std::size_t width) {
  std::string cut = text.substr(0, width);
  while (cut.size() < width) {
    if ((cut.size() + 1) % 2 == 1)
      cut += ' ';
    else
      cut.insert(cut.begin(), ' ');
  }
  return "|" + cut;
}

std::string StackTableSeparator() { return std::string(kStackTableWidth, '-') + "\r\n"; }

std::string StackTableHeader(const StackTableLayout& layout) {
  std::string line;
  if (layout.showAddress) line += CentredCell(layout.addressHeader, 7);
  if (layout.showModule) line += LeftCell(layout.moduleHeader, 18);
  line += LeftCell(layout.unitHeader, layout.UnitWidth());
  line += CentredCell(layout.lineHeader, 6);
  return line + "|\r\n";
}

namespace {

std::string Row(std::uint32_t address, const std::optional<TInfoLine>& info, const StackTableLayout& layout) {
  std::string line;
  if (layout.showAddress) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%07X", static_cast<unsigned>(address));
    line += LeftCell(hex, 7);
  }
  if (layout.showModule) line += LeftCell(info ? info->moduleName : std::string(), 18);
  line += LeftCell(info ? info->unitName : std::string(), layout.UnitWidth());
  line += RightCell(info ? std::to_string(info->line) : std::string(), 6);
  return line + "|\r\n";
}

bool Hidden(const TInfoLine& info, const StackTableLayout& layout) {
  if (info.moduleIndex != 0) return false;
  const std::string upper = UpperCase(info.unitName);
  return std::find(layout.hiddenUnits.begin(), layout.hiddenUnits.end(), upper) != layout.hiddenUnits.end();
}

}  // namespace

std::string FormatStackTable(const std::vector<std::uint32_t>& addresses, const LineResolver& resolve,
                             const StackTableLayout& layout) {
  std::string table = StackTableSeparator() + StackTableHeader(layout) + StackTableSeparator();
  std::string last;
  for (std::uint32_t address : addresses) {
    const std::optional<TInfoLine> info = resolve(address);
    if (!info && !layout.showRowsWithoutLineInfo) continue;
    if (info && Hidden(*info, layout)) continue;
    std::string row = Row(address, info, layout);
    if (row == last) continue;
    table += row;
    last = std::move(row);
  }
  return table + StackTableSeparator();
}

}  // namespace tarnwick
