// Finds the chain of calls that led to an error without a debugger: every
// 32-bit slot of the thread's stack whose value points just behind a call
// instruction in the program's code is taken as a return address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnwick {

inline constexpr std::size_t kCallStackLimit = 1999;

// The code of one module: [begin, end] in the process, and a view of the
// same bytes (on Windows the code itself, in tests a copy).
struct CodeRange {
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
  const std::uint8_t* bytes = nullptr;  // bytes[0] is the byte at `begin`

  bool Contains(std::uint32_t address) const noexcept { return address >= begin && address <= end; }
};

// Length (2 to 7) of the call instruction that ends right before `value`,
// or 0 when none of the six call forms fits or there are fewer than 8 bytes
// of code before it.
int CallFormLength(const CodeRange& code, std::uint32_t value) noexcept;

// Scans `slots` (the stack from the current position to its top). The first
// slot stands for the raise address `raised`: its call instruction, or the
// raise address itself when none is found, opens the list. At most 1999
// addresses are collected.
std::vector<std::uint32_t> ScanStack(const std::uint32_t* slots, std::size_t count, std::uint32_t raised,
                                     const std::vector<CodeRange>& modules);

}  // namespace tarnwick
