// A count typed by a user or found in an inventory cell: plain decimal
// digits only (no sign, no spaces, no 0x), within [low, high].
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarnwick::cli {

// False (out untouched) for an empty text, one longer than maxDigits
// (maxDigits at most 19, so the value cannot overflow), a non-digit, or a
// value outside [low, high].
bool ParseBoundedDecimal(std::string_view text, std::size_t maxDigits, std::uint64_t low, std::uint64_t high,
                         std::uint64_t& out);

}  // namespace tarnwick::cli
