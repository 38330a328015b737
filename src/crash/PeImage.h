// The few fields of a 32-bit PE header the crash reporter needs: where the
// image wants to load and where its code lies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tarnwick {

struct PeCodeInfo {
  std::uint32_t imageBase = 0;
  std::uint32_t baseOfCode = 0;
  std::uint32_t sizeOfCode = 0;
};

// Reads the headers at the start of an image file or a loaded image; nothing
// when the bytes are not a complete 32-bit PE header.
std::optional<PeCodeInfo> ReadPeCodeInfo(const std::uint8_t* image, std::size_t size);

}  // namespace tarnwick
