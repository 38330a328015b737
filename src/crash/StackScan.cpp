#include "crash/StackScan.h"

#include <cstring>

namespace tarnwick {

namespace {

bool IndirectCall(std::uint8_t opcode, std::uint8_t modrm) noexcept {
  return opcode == 0xFF && ((modrm >> 3) & 7) == 2;
}

std::uint32_t Read32(const std::uint8_t* p) noexcept {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

const CodeRange* ModuleOf(const std::vector<CodeRange>& modules, std::uint32_t value) noexcept {
  for (const CodeRange& code : modules)
    if (code.Contains(value) && value - code.begin >= 8) return &code;
  return nullptr;
}

}  // namespace

int CallFormLength(const CodeRange& code, std::uint32_t value) noexcept {
  if (code.bytes == nullptr || !code.Contains(value) || value - code.begin < 8) return 0;
  // Eight bytes before the value, b[8] being the byte right before it.
  const std::uint8_t* b = code.bytes + (value - code.begin) - 8;
  if (IndirectCall(b[6], b[7])) return 2;
  if (IndirectCall(b[5], b[6])) return 3;
  if (IndirectCall(b[4], b[5])) return 4;
  if (b[3] == 0xE8 && code.Contains(value + Read32(b + 4))) return 5;
  if (IndirectCall(b[2], b[3]) && code.Contains(Read32(b + 4))) return 6;
  if (IndirectCall(b[1], b[2])) return 7;
  return 0;
}

std::vector<std::uint32_t> ScanStack(const std::uint32_t* slots, std::size_t count, std::uint32_t raised,
                                     const std::vector<CodeRange>& modules) {
  std::vector<std::uint32_t> found;
  found.reserve(64);
  // The raise point always opens the list: it is the one address the report
  // must not lose, whatever value happens to lie in the first slot.
  int raisedForm = 0;
  if (count > 0 && ModuleOf(modules, slots[0]) != nullptr) {
    if (const CodeRange* code = ModuleOf(modules, raised)) raisedForm = CallFormLength(*code, raised);
  }
  found.push_back(raised - static_cast<std::uint32_t>(raisedForm));

  for (std::size_t i = 0; i < count && found.size() < kCallStackLimit; ++i) {
    const std::uint32_t value = slots[i];
    for (const CodeRange& code : modules) {
      if (!code.Contains(value) || value - code.begin < 8) continue;
      if (const int length = CallFormLength(code, value))
        found.push_back(value - static_cast<std::uint32_t>(length));
      break;
    }
  }
  return found;
}

}  // namespace tarnwick
