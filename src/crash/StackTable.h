// The text table of resolved call-stack rows that ends every crash report
// and that the log compares to recognise a repeated error.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "crash/LineTable.h"

namespace tarnwick {

inline constexpr std::size_t kStackTableWidth = 60;

struct StackTableLayout {
  bool showAddress = false;
  bool showModule = false;  // on when further modules are listed in the options
  bool showRowsWithoutLineInfo = false;
  std::string addressHeader = "Address";
  std::string moduleHeader = "Module";
  std::string unitHeader = "Unit";
  std::string lineHeader = "Line";
  // Upper-case unit names whose rows are left out when they lie in the
  // first module: the crash reporter's own sources.
  std::vector<std::string> hiddenUnits;

  std::size_t UnitWidth() const noexcept { return 51 - (showAddress ? 8 : 0) - (showModule ? 19 : 0); }
};

using LineResolver = std::function<std::optional<TInfoLine>(std::uint32_t address)>;

// "|" + text cut to width + spaces on the right (left for right-aligned).
std::string LeftCell(const std::string& text, std::size_t width);
std::string RightCell(const std::string& text, std::size_t width);
// Centred one space at a time: right when length + 1 is odd, else left.
std::string CentredCell(const std::string& text, std::size_t width);

std::string StackTableSeparator();  // 60 "-" and CR LF
std::string StackTableHeader(const StackTableLayout& layout);

// Separator, header, separator, one row per address that resolves (and is
// not hidden, and differs from the row before), closing separator.
std::string FormatStackTable(const std::vector<std::uint32_t>& addresses, const LineResolver& resolve,
                             const StackTableLayout& layout);

std::string UpperCase(std::string text);

}  // namespace tarnwick
