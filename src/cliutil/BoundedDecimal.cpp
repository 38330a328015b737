#include "cliutil/BoundedDecimal.h"

namespace tarnwick::cli {

bool ParseBoundedDecimal(std::string_view text, std::size_t maxDigits, std::uint64_t low, std::uint64_t high,
                         std::uint64_t& out) {
  if (text.empty() || text.size() > maxDigits || text.size() > 19) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value < low || value > high) return false;
  out = value;
  return true;
}

}  // namespace tarnwick::cli
