// Builds the line tables at build time from the decoded DWARF line rows
// that the cross binutils print for the linked executable
// (objdump -w --dwarf=decodedline).
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "crash/LineTable.h"

namespace tarnwick {

struct LineRow {
  std::string path;  // full path of the file the row belongs to, when known
  std::string file;  // the row's file name as printed
  std::uint16_t line = 0;
  std::uint32_t address = 0;
  bool endOfSequence = false;  // "-": the sequence ends at this address
};

// Reads the printed rows. Lines that are not rows (headers, blank lines,
// names with spaces) are passed over.
std::vector<LineRow> ParseDecodedLines(std::istream& in);

// Turns rows into unit records of one module: rows of files under
// `sourceRoot` only, one unit per run of addresses in one file (library code
// inlined in the middle of the run belongs to the line before it), several
// rows at one address reduced to the last, steps that keep the line left
// out, each unit ending one byte before the code that follows it.
std::vector<LineUnit> BuildLineUnits(const std::vector<LineRow>& rows, std::uint32_t imageBase,
                                     const std::string& sourceRoot);

// Leaves units out until the module's encoded tables are below `limit`
// bytes: units of header files first (inlined helpers, whose rows say least
// about where the program was), the largest first, so that as few units as
// possible go. The rest keep their order. Returns how many were left out.
std::size_t FitLineUnits(const std::string& moduleName, std::vector<LineUnit>& units, std::size_t limit);

}  // namespace tarnwick
