// Feeds arbitrary bytes to the options-block reader, the line-table decoder
// and lookup, and the log rules, and checks what each of them promises:
// no read past the end, no endless walk, and round trips that hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "crash/CrashLog.h"
#include "crash/CrashOptions.h"
#include "crash/LineTable.h"
#include "crash/StackTable.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool SameModules(const std::vector<tarnwick::LineModule>& a, const std::vector<tarnwick::LineModule>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t m = 0; m < a.size(); ++m) {
    if (a[m].name != b[m].name || a[m].units.size() != b[m].units.size()) return false;
    for (std::size_t u = 0; u < a[m].units.size(); ++u) {
      const auto& x = a[m].units[u];
      const auto& y = b[m].units[u];
      if (x.name != y.name || x.firstLine != y.firstLine || x.start != y.start ||
          x.steps.size() != y.steps.size())
        return false;
      for (std::size_t s = 0; s < x.steps.size(); ++s)
        if (x.steps[s].lineAdvance != y.steps[s].lineAdvance ||
            x.steps[s].addressAdvance != y.steps[s].addressAdvance)
          return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;

  if (const auto options = ReadOptionsBlock(data, size)) {
    const std::vector<std::uint8_t> again = WriteOptionsBlock(*options);
    const auto reread = ReadOptionsBlock(again.data(), again.size());
    Require(reread.has_value());
    Require(reread->texts == options->texts && reread->classMessages == options->classMessages &&
            reread->lineTables == options->lineTables && reread->logFolder == options->logFolder);
  }

  if (const auto modules = DecodeLineTables(data, size)) {
    Require(size < kLineTableLimit);
    const std::vector<std::uint8_t> encoded = EncodeLineTables(*modules);
    // Decoded advances never exceed 16 bits, so re-encoding needs no split
    // steps and must give back the same records (in forms at most as long).
    Require(encoded.size() <= size);
    const auto decoded = DecodeLineTables(encoded.data(), encoded.size());
    Require(decoded.has_value() && SameModules(*decoded, *modules));
  }
  const auto base = [](int index, const std::string&) {
    return index < 3 ? std::optional<std::uint32_t>(0x400000u * static_cast<std::uint32_t>(index + 1))
                     : std::nullopt;
  };
  for (std::uint32_t address : {0x401000u, 0x401001u, 0x8010FFu, 0u, 0xFFFFFFFFu}) {
    if (const auto info = LookupLine(data, size, address, base)) Require(info->moduleIndex >= 0);
  }

  // The log rules over any content, with a table taken from the input too.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string table =
      StackTableSeparator() + text.substr(0, size / 4) + StackTableSeparator() + StackTableSeparator();
  CrashOptions o = TarnwickCrashOptions();
  for (int variant = 0; variant < 2; ++variant) {
    o.clearLogOnNewVersion = variant == 0;
    o.maxLogEntries = static_cast<std::int32_t>(size % 5);
    const LogUpdate update = UpdateLog(text, "entry\r\n", table, "----", o);
    if (update.duplicate) {
      Require(update.content == text);
    } else {
      Require(update.content.size() >= 7 &&
              update.content.compare(update.content.size() - 7, 7, "entry\r\n") == 0);
    }
  }
  return 0;
}
