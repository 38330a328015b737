// netascii (RFC 764 as RFC 1350 uses it) for the server's side of a
// transfer. Reading: the file's bytes to the wire form, block by block, LF
// as CR LF and CR as CR NUL. The state at a block's start is a small value,
// so a window can be built again from any of its blocks by keeping the
// position each one started at. Writing: the wire form back to the local
// line ending, fed block by block, a CR cut off by a block's end waiting
// for the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tarnwick::serve {

struct NetasciiPosition {
  std::uint64_t fileOffset = 0;
  int pending = -1;  // the second byte of a pair the last block's end cut off; -1: none
  bool operator==(const NetasciiPosition& o) const {
    return fileOffset == o.fileOffset && pending == o.pending;
  }
};

// Bytes read at an offset (fewer only at the end), -1 on an error.
using ReadAtFunction = std::function<long long(std::uint64_t offset, char* out, std::size_t length)>;

// The block that starts at `at`, into out (blockSize bytes, fewer for the
// last one); at moves to the next block's start. False on a read error.
bool EncodeNetasciiBlock(const ReadAtFunction& read, NetasciiPosition& at, std::size_t blockSize,
                         std::string& out);

class NetasciiDecoder {
 public:
  // lineEnd: what CR LF becomes in the file ("\n", or "\r\n" on Windows).
  explicit NetasciiDecoder(std::string lineEnd) : lineEnd_(std::move(lineEnd)) {}
  // Appends the file bytes of one block's data.
  void Decode(std::string_view wire, std::string& out);
  // After the last block: a CR that nothing followed is kept as it came.
  void Finish(std::string& out);

 private:
  std::string lineEnd_;
  bool pendingCr_ = false;
};

}  // namespace tarnwick::serve
