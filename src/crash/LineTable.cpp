#include "crash/LineTable.h"

#include "crash/ByteReader.h"
#include "crash/CrashOptions.h"

namespace tarnwick {

void EncodeLineStep(std::vector<std::uint8_t>& out, std::uint16_t lineAdvance, std::uint32_t addressAdvance) {
  while (addressAdvance > 0xFFFF) {
    EncodeLineStep(out, 0, 0xFFFF);
    addressAdvance -= 0xFFFF;
  }
  const auto byte = [&out](unsigned v) { out.push_back(static_cast<std::uint8_t>(v)); };
  if (lineAdvance <= 3 && addressAdvance <= 63 && ((lineAdvance << 6) | addressAdvance) <= 252) {
    byte((lineAdvance << 6) | addressAdvance);
  } else if (lineAdvance <= 3 && addressAdvance <= 0x3FFF) {
    byte(253);
    byte((lineAdvance << 6) | (addressAdvance >> 8));
    byte(addressAdvance & 0xFF);
  } else if (lineAdvance <= 1023 && addressAdvance <= 63) {
    byte(254);
    byte(lineAdvance & 0xFF);
    byte(((lineAdvance >> 8) << 6) | addressAdvance);
  } else {
    byte(255);
    byte(lineAdvance & 0xFF);
    byte(lineAdvance >> 8);
    byte(addressAdvance & 0xFF);
    byte(addressAdvance >> 8);
  }
}

std::vector<std::uint8_t> EncodeLineTables(const std::vector<LineModule>& modules) {
  ByteWriter out;
  for (const LineModule& module : modules) {
    ByteWriter units;
    for (const LineUnit& unit : module.units) {
      units.ShortString(unit.name);
      units.U16(unit.firstLine);
      units.U32(unit.start);
      std::vector<std::uint8_t> steps;
      std::uint32_t count = 0;
      for (const LineStep& step : unit.steps) {
        const std::size_t before = steps.size();
        EncodeLineStep(steps, step.lineAdvance, step.addressAdvance);
        // A split step is several entries: count what the reader will see.
        for (std::size_t i = before; i < steps.size(); ++count) {
          const std::uint8_t g = steps[i];
          i += g < 253 ? 1 : g == 255 ? 5 : 3;
        }
      }
      units.U32(count);
      units.Append(steps);
    }
    out.ShortString(module.name);
    out.U32(static_cast<std::uint32_t>(units.Bytes().size()));
    out.Append(units.Bytes());
  }
  return out.Take();
}

namespace {

bool ReadStep(ByteReader& r, LineStep& step) {
  std::uint8_t g = 0, b1 = 0, b2 = 0;
  if (!r.U8(g)) return false;
  if (g <= 252) {
    step = {static_cast<std::uint16_t>(g >> 6), static_cast<std::uint32_t>(g & 63)};
  } else if (g == 253) {
    if (!r.U8(b1) || !r.U8(b2)) return false;
    step = {static_cast<std::uint16_t>(b1 >> 6), static_cast<std::uint32_t>((b1 & 63) * 256 + b2)};
  } else if (g == 254) {
    if (!r.U8(b1) || !r.U8(b2)) return false;
    step = {static_cast<std::uint16_t>(b1 + ((b2 & 192) * 4)), static_cast<std::uint32_t>(b2 & 63)};
  } else {
    std::uint16_t line = 0, address = 0;
    if (!r.U16(line) || !r.U16(address)) return false;
    step = {line, address};
  }
  return true;
}

// Walks the stream record by record. `onModule` decides whether a module's
// units are visited; `onUnit` sees each unit header and reads its steps
// through `nextStep`, returning true to stop the walk. Every size and count
// is checked against what is left of the module and of the stream, so a
// damaged stream ends the walk instead of being read past its end.
template <class OnModule, class OnUnit>
bool WalkTables(const std::uint8_t* data, std::size_t size, OnModule onModule, OnUnit onUnit) {
  if (size >= kLineTableLimit) return false;
  if (size == 0) return true;
  if (data == nullptr) return false;
  ByteReader stream(data, size);
  int index = 0;
  while (!stream.AtEnd()) {
    std::string moduleName;
    std::uint32_t moduleSize = 0;
    if (!stream.ShortString(moduleName) || !stream.U32(moduleSize)) return false;
    if (moduleSize > stream.Remaining()) return false;
    ByteReader module(data + stream.Position(), moduleSize);
    std::vector<std::uint8_t> skip;
    stream.Bytes(moduleSize, skip);
    const bool visit = onModule(index, moduleName);
    while (visit && !module.AtEnd()) {
      LineUnit unit;
      std::uint32_t count = 0;
      if (!module.ShortString(unit.name) || !module.U16(unit.firstLine) || !module.U32(unit.start) ||
          !module.U32(count))
        return false;
      bool damaged = false;
      std::uint32_t read = 0;
      auto nextStep = [&](LineStep& step) {
        if (read == count || damaged) return false;
        if (!ReadStep(module, step)) {
          damaged = true;
          return false;
        }
        ++read;
        return true;
      };
      if (onUnit(index, moduleName, unit, nextStep)) return true;
      // Skip whatever the visitor left unread, so the next unit header is found.
      LineStep ignored;
      while (nextStep(ignored)) {
      }
      if (damaged) return false;
    }
    ++index;
  }
  return true;
}

}  // namespace

std::optional<std::vector<LineModule>> DecodeLineTables(const std::uint8_t* data, std::size_t size) {
  std::vector<LineModule> modules;
  const bool ok = WalkTables(
      data, size,
      [&](int, const std::string& name) {
        modules.push_back({name, {}});
        return true;
      },
      [&](int, const std::string&, LineUnit& unit, auto& nextStep) {
        LineStep step;
        while (nextStep(step)) unit.steps.push_back(step);
        modules.back().units.push_back(std::move(unit));
        return false;
      });
  if (!ok) return std::nullopt;
  return modules;
}

std::optional<TInfoLine> LookupLine(const std::uint8_t* data, std::size_t size, std::uint32_t address,
                                    const ModuleBaseLookup& moduleBase) {
  std::optional<TInfoLine> result;
  std::uint32_t base = 0;
  WalkTables(
      data, size,
      [&](int index, const std::string& name) {
        const std::optional<std::uint32_t> loaded = moduleBase(index, name);
        if (loaded) base = *loaded;
        return loaded.has_value();
      },
      [&](int index, const std::string& moduleName, LineUnit& unit, auto& nextStep) {
        const std::uint32_t start = base + kLineTableCodeOffset + unit.start;
        const auto found = [&](std::uint16_t line) {
          result = TInfoLine{index, moduleName, unit.name, line};
          return true;
        };
        if (address == start) return found(unit.firstLine);
        std::uint16_t line = unit.firstLine;
        std::uint32_t current = start;
        LineStep step;
        while (nextStep(step)) {
          const std::uint16_t before = line;
          line = static_cast<std::uint16_t>(line + step.lineAdvance);
          current += step.addressAdvance;
          if (address == current) return found(line);
          if (address > start && address < current) return found(before);
        }
        return false;
      });
  return result;
}

}  // namespace tarnwick
