// Build step run on the host after the Windows executable is linked: reads
// the executable's line information, strips it, and appends the crash
// reporter's options block with this program's values and the line tables.
//
//   tarnwick-crashtables <objdump> <strip> <executable> <source root>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "crash/CrashOptions.h"
#include "crash/LineTable.h"
#include "crash/LineTableBuilder.h"
#include "crash/PeImage.h"
#include "crash/ReporterUnits.h"
#include "crash/StackTable.h"

namespace {

using tarnwick::CrashOptions;

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool RunCapture(const std::string& command, std::string& output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  char buffer[65536];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  return pclose(pipe) == 0;
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A compiler cache that rewrites paths relative to the build folder leaves
// names such as "../../../src/crash/X.cpp" in the line information. Such a
// name is one of ours when, without its leading "../", it names a file under
// the source root.
void ResolveRelativeSources(std::vector<tarnwick::LineRow>& rows, const std::string& root) {
  std::map<std::string, std::string> resolved;
  for (tarnwick::LineRow& row : rows) {
    if (row.path.empty() || row.path[0] == '/') continue;
    auto [it, fresh] = resolved.emplace(row.path, std::string());
    if (fresh) {
      std::string rest = row.path;
      while (rest.rfind("../", 0) == 0 || rest.rfind("./", 0) == 0) rest.erase(0, rest.find('/') + 1);
      std::error_code error;
      if (!rest.empty() && std::filesystem::is_regular_file(root + rest, error)) it->second = root + rest;
    }
    if (!it->second.empty()) row.path = it->second;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: tarnwick-crashtables <objdump> <strip> <executable> <source root>\n";
    return 2;
  }
  const std::string objdump = argv[1], strip = argv[2], exe = argv[3], root = argv[4];

  std::vector<std::uint8_t> image;
  if (!ReadFile(exe, image)) {
    std::cerr << "tarnwick-crashtables: cannot read " << exe << "\n";
    return 1;
  }
  if (tarnwick::ReadOptionsBlock(image.data(), image.size())) {
    std::cout << "tarnwick-crashtables: " << BaseName(exe) << " already carries its crash tables\n";
    return 0;
  }

  const auto pe = tarnwick::ReadPeCodeInfo(image.data(), image.size());
  if (!pe) {
    std::cerr << "tarnwick-crashtables: " << exe << " is not a 32-bit PE image\n";
    return 1;
  }
  std::string decoded;
  if (!RunCapture(Quoted(objdump) + " -w --dwarf=decodedline " + Quoted(exe), decoded)) {
    std::cerr << "tarnwick-crashtables: cannot read the line information of " << exe << "\n";
    return 1;
  }
  std::istringstream rows(decoded);
  std::vector<tarnwick::LineRow> lineRows = tarnwick::ParseDecodedLines(rows);
  ResolveRelativeSources(lineRows, root);
  std::vector<tarnwick::LineUnit> units = tarnwick::BuildLineUnits(lineRows, pe->imageBase, root);
  if (units.empty()) {
    // A program without tables reports every error with an empty stack
    // table; that must stop the build, not ship. The executable goes, so
    // that the next build links it again instead of taking it as done.
    std::cerr << "tarnwick-crashtables: " << exe << " has no line information for the sources under " << root
              << " (were they compiled with -g?); removing it\n";
    std::remove(exe.c_str());
    return 1;
  }
  if (std::system((Quoted(strip) + " " + Quoted(exe)).c_str()) != 0) {
    std::cerr << "tarnwick-crashtables: strip failed for " << exe << "\n";
    return 1;
  }

  // The reporter never shows rows of its own sources, so their tables would
  // only take room from the program's.
  const std::vector<std::string> hidden = tarnwick::ReporterUnits();
  units.erase(std::remove_if(units.begin(), units.end(),
                             [&](const tarnwick::LineUnit& unit) {
                               return std::find(hidden.begin(), hidden.end(),
                                                tarnwick::UpperCase(unit.name)) != hidden.end();
                             }),
              units.end());
  // The reader refuses a stream whose positions no longer fit in 16 bits;
  // rather than ship tables nobody can use, some units are left out.
  const std::size_t dropped = tarnwick::FitLineUnits(BaseName(exe), units, tarnwick::kLineTableLimit);
  const std::vector<tarnwick::LineModule> modules = {{BaseName(exe), std::move(units)}};
  const std::vector<std::uint8_t> tables = tarnwick::EncodeLineTables(modules);

  CrashOptions options = tarnwick::TarnwickCrashOptions();
  options.lineTables = tables;
  const std::vector<std::uint8_t> block = tarnwick::WriteOptionsBlock(options);
  std::ofstream out(exe, std::ios::binary | std::ios::app);
  out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
  if (!out.flush()) {
    std::cerr << "tarnwick-crashtables: cannot append to " << exe << "\n";
    return 1;
  }
  std::cout << "tarnwick-crashtables: " << BaseName(exe) << ": " << modules[0].units.size() << " units, "
            << tables.size() << " bytes of line tables";
  if (dropped) std::cout << " (" << dropped << " units left out to stay below 64 KiB)";
  std::cout << "\n";
  return 0;
}
