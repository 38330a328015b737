#include "fleet/TextFile.h"

#include <iostream>

#include "archive/DestFolder.h"
#include "cliutil/FileHandle.h"

namespace tarnwick::fleet {

bool ReadTextFile(const std::string& path, const char* what, std::string& text, std::string& error) {
  text.clear();
  cli::FileHandle file = cli::FileHandle::OpenForReading(path);
  if (!file.Valid())
    return error = archive::FileErrorText(std::string("cannot read ") + what + " " + path,
                                          cli::FileError::Last()),
           false;
  char buffer[65536];
  for (;;) {
    const long long n = file.Read(buffer, sizeof buffer);
    if (n < 0)
      return error = archive::FileErrorText(std::string("cannot read ") + what + " " + path,
                                            cli::FileError::Last()),
             false;
    if (n == 0) return true;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxTextFileBytes)
      return error = std::string(what) + " " + path + " is larger than 16 MiB", false;
  }
}

bool ReadInventoryFile(const std::string& path, std::string& text, std::string& error) {
  if (path != "-") return ReadTextFile(path, "inventory", text, error);
  text.clear();
  char buffer[65536];
  while (std::cin.read(buffer, sizeof buffer) || std::cin.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(std::cin.gcount()));
    if (text.size() > kMaxTextFileBytes) return error = "the inventory is larger than 16 MiB", false;
  }
  if (std::cin.bad()) return error = "cannot read the inventory from standard input", false;
  return true;
}

}  // namespace tarnwick::fleet
