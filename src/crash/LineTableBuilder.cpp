#include "crash/LineTableBuilder.h"

#include <algorithm>
#include <optional>
#include <sstream>

namespace tarnwick {

namespace {

bool ParseNumber(const std::string& token, int base, unsigned long long limit, unsigned long long& out) {
  if (token.empty() || token.size() > 18) return false;
  std::size_t used = 0;
  try {
    out = std::stoull(token, &used, base);
  } catch (...) {
    return false;
  }
  return used == token.size() && out <= limit;
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<LineRow> ParseDecodedLines(std::istream& in) {
  std::vector<LineRow> rows;
  std::string text, path;
  while (std::getline(in, text)) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty()) continue;
    if (text.back() == ':' && text.find("file format") == std::string::npos &&
        text.rfind("Contents of", 0) != 0) {
      path = text.substr(0, text.size() - 1);
      if (path.rfind("CU: ", 0) == 0) path.erase(0, 4);
      continue;
    }
    std::istringstream fields(text);
    std::string file, line, address;
    if (!(fields >> file >> line >> address)) continue;
    LineRow row;
    row.file = file;
    row.path = BaseName(path) == file ? path : std::string();
    unsigned long long number = 0;
    if (line == "-") {
      row.endOfSequence = true;
    } else if (ParseNumber(line, 10, 0xFFFFFFFF, number)) {
      row.line = static_cast<std::uint16_t>(number);  // the tables keep 16-bit lines
    } else {
      continue;
    }
    if (!ParseNumber(address.rfind("0x", 0) == 0 ? address.substr(2) : address, 16, 0xFFFFFFFF, number))
      continue;
    row.address = static_cast<std::uint32_t>(number);
    rows.push_back(std::move(row));
  }
  return rows;
}

namespace {

struct OpenUnit {
  std::string path;
  std::vector<std::pair<std::uint32_t, std::uint16_t>> points;  // address, line
};

void Close(OpenUnit& open, std::uint32_t end, std::uint32_t imageBase, std::vector<LineUnit>& units) {
  while (!open.points.empty() && open.points.back().first >= end) open.points.pop_back();
  if (open.points.empty() || open.points.front().first < imageBase + kLineTableCodeOffset) {
    open.points.clear();
    return;
  }
  LineUnit unit;
  unit.name = BaseName(open.path);
  unit.firstLine = open.points.front().second;
  unit.start = open.points.front().first - imageBase - kLineTableCodeOffset;
  for (std::size_t i = 1; i < open.points.size(); ++i) {
    unit.steps.push_back({static_cast<std::uint16_t>(open.points[i].second - open.points[i - 1].second),
                          open.points[i].first - open.points[i - 1].first});
  }
  // The last line covers the code up to the byte before what follows.
  const std::uint32_t last = end - 1;
  if (last > open.points.back().first) unit.steps.push_back({0, last - open.points.back().first});
  units.push_back(std::move(unit));
  open.points.clear();
}

}  // namespace

std::vector<LineUnit> BuildLineUnits(const std::vector<LineRow>& rows, std::uint32_t imageBase,
                                     const std::string& sourceRoot) {
  std::vector<LineUnit> units;
  OpenUnit open;
  // Library code inlined into one of our functions interrupts its rows; when
  // the same file goes on after it, the unit goes on too and the inlined
  // code counts as the line that led into it. Otherwise the unit ends where
  // the foreign code began.
  std::optional<std::uint32_t> foreignFrom;
  for (const LineRow& row : rows) {
    const bool ours = !row.endOfSequence && !row.path.empty() && row.path.rfind(sourceRoot, 0) == 0;
    if (!open.points.empty()) {
      const bool backwards = row.address < open.points.back().first;
      if (backwards) {
        Close(open, open.points.back().first + 1, imageBase, units);
        foreignFrom.reset();
      } else if (!ours && !row.endOfSequence) {
        if (!foreignFrom) foreignFrom = row.address;
      } else if (!ours || row.path != open.path) {
        Close(open, foreignFrom.value_or(row.address), imageBase, units);
        foreignFrom.reset();
      }
    }
    if (!ours) continue;
    foreignFrom.reset();
    open.path = row.path;
    if (!open.points.empty() && open.points.back().first == row.address)
      open.points.back().second = row.line;
    else
      open.points.emplace_back(row.address, row.line);
    // A step to the same line adds nothing a lookup could tell apart.
    const std::size_t n = open.points.size();
    if (n >= 2 && open.points[n - 1].second == open.points[n - 2].second) open.points.pop_back();
  }
  if (!open.points.empty()) Close(open, foreignFrom.value_or(open.points.back().first + 1), imageBase, units);
  return units;
}

namespace {

bool IsHeader(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string extension = name.substr(dot + 1);
  return extension == "h" || extension == "hpp" || extension == "hh" || extension == "H";
}

}  // namespace

std::size_t FitLineUnits(const std::string& moduleName, std::vector<LineUnit>& units, std::size_t limit) {
  std::size_t total = EncodeLineTables({{moduleName, units}}).size();
  if (total < limit) return 0;
  // A unit's share of the stream does not depend on its neighbours.
  const std::size_t moduleHeader = EncodeLineTables({{moduleName, {}}}).size();
  std::vector<std::pair<std::size_t, std::size_t>> order;  // size, index
  for (std::size_t i = 0; i < units.size(); ++i)
    order.emplace_back(EncodeLineTables({{moduleName, {units[i]}}}).size() - moduleHeader, i);
  std::stable_sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
    const bool headerA = IsHeader(units[a.second].name), headerB = IsHeader(units[b.second].name);
    if (headerA != headerB) return headerA;
    return a.first > b.first;
  });
  std::vector<bool> leftOut(units.size(), false);
  std::size_t dropped = 0;
  for (const auto& [size, index] : order) {
    if (total < limit) break;
    leftOut[index] = true;
    total -= size;
    ++dropped;
  }
  std::vector<LineUnit> kept;
  for (std::size_t i = 0; i < units.size(); ++i)
    if (!leftOut[i]) kept.push_back(std::move(units[i]));
  units = std::move(kept);
  return dropped;
}

}  // namespace tarnwick
