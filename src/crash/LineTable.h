// The compact line tables appended to the executable: module records, unit
// records and 1-, 3- or 5-byte step entries that advance line and address.
// The build writes them; the crash reporter resolves code addresses through
// them without any debugger or symbol file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

// Unit addresses are stored relative to the load address plus this offset
// (the first page of an image holds its headers).
inline constexpr std::uint32_t kLineTableCodeOffset = 4096;

struct LineStep {
  std::uint16_t lineAdvance = 0;  // 16-bit, wraps: a step back is a large advance
  std::uint32_t addressAdvance = 0;
};

struct LineUnit {
  std::string name;  // source file name with its extension
  std::uint16_t firstLine = 0;
  std::uint32_t start = 0;  // offset of the first address from load address + 4096
  std::vector<LineStep> steps;
};

struct LineModule {
  std::string name;
  std::vector<LineUnit> units;
};

// One step in its shortest form. An address advance beyond 16 bits is split
// into several steps; the line advance goes with the last of them.
void EncodeLineStep(std::vector<std::uint8_t>& out, std::uint16_t lineAdvance, std::uint32_t addressAdvance);
std::vector<std::uint8_t> EncodeLineTables(const std::vector<LineModule>& modules);

// Decodes the whole stream back into records; nothing when it is damaged
// (a size or count running past its end) or too large to be used.
std::optional<std::vector<LineModule>> DecodeLineTables(const std::uint8_t* data, std::size_t size);

struct TInfoLine {
  int moduleIndex = 0;  // position of the module record, 0 for the program
  std::string moduleName;
  std::string unitName;
  std::uint16_t line = 0;
};

// Load address of the module record at `index` named `name`; nothing when
// that module is not loaded, and its records are then passed over.
using ModuleBaseLookup = std::function<std::optional<std::uint32_t>(int index, const std::string& name)>;

// The unit and line of code address `address`; nothing when the tables hold
// no line information for it (or are damaged).
std::optional<TInfoLine> LookupLine(const std::uint8_t* data, std::size_t size, std::uint32_t address,
                                    const ModuleBaseLookup& moduleBase);

}  // namespace tarnwick
