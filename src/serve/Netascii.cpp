#include "serve/Netascii.h"

namespace tarnwick::serve {

bool EncodeNetasciiBlock(const ReadAtFunction& read, NetasciiPosition& at, std::size_t blockSize,
                         std::string& out) {
  out.clear();
  if (at.pending >= 0 && blockSize > 0) {
    out += static_cast<char>(at.pending);
    at.pending = -1;
  }
  // Every file byte gives at least one wire byte, so one read of what the
  // block still lacks is enough; what it does not use is read again for the
  // next block.
  std::string bytes(blockSize - out.size(), '\0');
  const long long got = bytes.empty() ? 0 : read(at.fileOffset, bytes.data(), bytes.size());
  if (got < 0) return false;
  for (long long i = 0; i < got && out.size() < blockSize; ++i) {
    const char c = bytes[static_cast<std::size_t>(i)];
    ++at.fileOffset;
    if (c != '\n' && c != '\r') {
      out += c;
      continue;
    }
    const char second = c == '\n' ? '\n' : '\0';
    out += '\r';
    if (out.size() == blockSize)
      at.pending = second;
    else
      out += second;
  }
  return true;
}

void NetasciiDecoder::Decode(std::string_view wire, std::string& out) {
  for (char c : wire) {
    if (pendingCr_) {
      pendingCr_ = false;
      if (c == '\n') {
        out += lineEnd_;
        continue;
      }
      out += '\r';  // CR NUL, or a bare CR from a lax sender: kept as CR
      if (c == '\0') continue;
    }
    if (c == '\r')
      pendingCr_ = true;
    else
      out += c;
  }
}

void NetasciiDecoder::Finish(std::string& out) {
  if (pendingCr_) out += '\r';
  pendingCr_ = false;
}

}  // namespace tarnwick::serve
