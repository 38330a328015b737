// The configuration a simulated device serves: a byte pattern seeded by the
// device's name and changed by its version number, readable at any offset
// (the simulator never holds a whole file, the tests rebuild it to compare).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

namespace tarnwick::fleet_sim {

inline std::uint64_t NameSeed(const std::string& name) {
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
  return h;
}

inline std::uint64_t Mix(std::uint64_t x) {  // splitmix64's finaliser
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

// Printable text with line breaks, like a real configuration.
inline char ContentByte(std::uint64_t seed, std::uint32_t version, std::uint64_t offset) {
  if (offset % 64 == 63) return '\n';
  std::uint64_t word = Mix(seed ^ (std::uint64_t{version} << 48) ^ (offset / 8));
  return static_cast<char>(' ' + ((word >> ((offset % 8) * 8)) & 0xff) % 95);
}

inline void FillContent(std::uint64_t seed, std::uint32_t version, std::uint64_t offset, char* out,
                        std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = ContentByte(seed, version, offset + i);
}

inline std::string Content(const std::string& name, std::uint32_t version, std::uint64_t size) {
  std::string bytes(size, '\0');
  FillContent(NameSeed(name), version, 0, bytes.data(), bytes.size());
  return bytes;
}

// The first line of a "stamped" device, n telling one run from the next:
// one 64-byte line like the others, so the size never changes.
inline std::string StampLine(unsigned n) {
  std::string line = "! Last configuration change at run " + std::to_string(n);
  line.resize(63, ' ');
  return line + '\n';
}

}  // namespace tarnwick::fleet_sim
