// Stack capture on Windows: the code ranges of the program's modules from
// their PE headers, and the scan of the current thread's stack.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crash/StackScan.h"

namespace tarnwick {

// The code range of the module loaded at `module` (an HMODULE); empty when
// its header cannot be read.
CodeRange ModuleCodeRange(const void* module);

// The code of `module` first, then of each named module that is loaded.
std::vector<CodeRange> ModuleCodeRanges(const void* module, const std::vector<std::string>& extraModules);
// The same for the program's own module.
std::vector<CodeRange> ProgramCodeRanges(const std::vector<std::string>& extraModules);

// Scans from the caller's stack position to the top of the thread's stack.
std::vector<std::uint32_t> CaptureStack(std::uint32_t raised, const std::vector<CodeRange>& modules);

// Makes every error the program raises record its call stack at once, so a
// report shows where it started rather than where it was caught.
void InstallRaiseCapture();
void RemoveRaiseCapture();

}  // namespace tarnwick
