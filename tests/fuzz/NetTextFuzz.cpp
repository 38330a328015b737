// Feeds arbitrary bytes to the socket layer's text routines and checks the
// properties every caller relies on: no read past the end, no endless
// splitting loop, results within bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/NetUtil.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  const std::string text(reinterpret_cast<const char*>(data), size);

  if (IsIPv4Literal(text)) Check(IPv4ToBytes(text).size() == 4);
  IsIPv6Literal(text);

  std::string lineEnd;
  const std::size_t at = FindLineEnd(text, lineEnd);
  if (at == 0) {
    Check(lineEnd.empty());
    Check(text.find('\r') == std::string::npos && text.find('\n') == std::string::npos);
  } else {
    Check(at - 1 + lineEnd.size() <= text.size());
    Check(text.compare(at - 1, lineEnd.size(), lineEnd) == 0);
    Check(text.find_first_of("\r\n") == at - 1);
  }

  Check(Base64Encode(text).size() == 4 * ((text.size() + 2) / 3));
  for (std::size_t p = 0; p <= size + 1; ++p) {
    const std::uint16_t w = DecodeWord(text, p);
    if (p == 0 || p + 1 > size) Check(w == 0);
  }

  // Splitting always makes progress and ends.
  std::string rest = text;
  std::size_t fields = 0;
  while (!rest.empty()) {
    const std::size_t before = rest.size();
    TakeField(rest, ".");
    Check(rest.size() < before);
    Check(++fields <= size + 1);
  }
  return 0;
}
