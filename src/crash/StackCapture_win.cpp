#include <windows.h>

#include "base/Exception.h"
#include "crash/PeImage.h"
#include "crash/StackCapture.h"

namespace tarnwick {

CodeRange ModuleCodeRange(const void* module) {
  if (module == nullptr) return {};
  const auto* image = static_cast<const std::uint8_t*>(module);
  // The headers of a loaded image lie in its first page.
  const auto info = ReadPeCodeInfo(image, 4096);
  if (!info || info->sizeOfCode == 0) return {};
  const std::uint32_t base = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(module));
  CodeRange range;
  range.begin = base + info->baseOfCode;
  range.end = range.begin + info->sizeOfCode;
  range.bytes = image + info->baseOfCode;
  return range;
}

std::vector<CodeRange> ProgramCodeRanges(const std::vector<std::string>& extraModules) {
  return ModuleCodeRanges(GetModuleHandleW(nullptr), extraModules);
}

std::vector<CodeRange> ModuleCodeRanges(const void* module, const std::vector<std::string>& extraModules) {
  std::vector<CodeRange> ranges;
  ranges.push_back(ModuleCodeRange(module));
  for (const std::string& name : extraModules) {
    const CodeRange range = ModuleCodeRange(GetModuleHandleA(name.c_str()));
    if (range.bytes != nullptr) ranges.push_back(range);
  }
  return ranges;
}

__attribute__((noinline)) std::vector<std::uint32_t> CaptureStack(std::uint32_t raised,
                                                                  const std::vector<CodeRange>& modules) {
  volatile std::uint32_t marker = 0;
  const auto here = reinterpret_cast<std::uintptr_t>(&marker) & ~std::uintptr_t{3};
  // The thread information block at fs:0 holds the top of the stack at
  // offset 4 (NT_TIB::StackBase).
  std::uintptr_t top = 0;
  asm volatile("movl %%fs:4, %0" : "=r"(top));
  if (top <= here) return ScanStack(nullptr, 0, raised, modules);
  return ScanStack(reinterpret_cast<const std::uint32_t*>(here), (top - here) / 4, raised, modules);
}

namespace {

void CaptureAtRaise(RaisePoint& point) {
  static const std::vector<CodeRange> ownCode = ProgramCodeRanges({});
  try {
    const auto found = CaptureStack(static_cast<std::uint32_t>(point.address), ownCode);
    point.stack.assign(found.begin(), found.end());
  } catch (...) {
    // Out of memory while raising: the report falls back to a later scan.
    point.stack.clear();
  }
}

}  // namespace

void InstallRaiseCapture() { SetRaiseCaptureHook(&CaptureAtRaise); }
void RemoveRaiseCapture() { SetRaiseCaptureHook(nullptr); }

}  // namespace tarnwick
