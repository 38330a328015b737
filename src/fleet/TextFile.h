// The text files a command reads whole before it starts: the inventory, the
// ignore file, an earlier report, the metrics. Read in order, never by size,
// so a pipe or FIFO works as well as a file, and at most 16 MiB: an export
// gone wrong must not fill the memory.
#pragma once

#include <cstddef>
#include <string>

namespace tarnwick::fleet {

inline constexpr std::size_t kMaxTextFileBytes = 16u << 20;

// what names the file in the errors ("cannot read ignore file PATH: ...").
bool ReadTextFile(const std::string& path, const char* what, std::string& text, std::string& error);

// The inventory; "-" is standard input.
bool ReadInventoryFile(const std::string& path, std::string& text, std::string& error);

}  // namespace tarnwick::fleet
