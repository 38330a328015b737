#include "crash/PeImage.h"

#include "crash/ByteReader.h"

namespace tarnwick {

std::optional<PeCodeInfo> ReadPeCodeInfo(const std::uint8_t* image, std::size_t size) {
  if (image == nullptr || size < 0x40 || image[0] != 'M' || image[1] != 'Z') return std::nullopt;
  ByteReader dos(image + 0x3C, 4);
  std::uint32_t ntOffset = 0;
  dos.U32(ntOffset);
  // Signature (4), file header (20), then the optional header up to ImageBase (32 bytes).
  if (ntOffset > size || size - ntOffset < 4 + 20 + 32) return std::nullopt;
  const std::uint8_t* nt = image + ntOffset;
  if (nt[0] != 'P' || nt[1] != 'E' || nt[2] != 0 || nt[3] != 0) return std::nullopt;
  ByteReader optional(nt + 24, 32);
  std::uint16_t magic = 0;
  std::uint8_t linker = 0;
  std::uint32_t ignored = 0;
  PeCodeInfo info;
  optional.U16(magic);
  if (magic != 0x10B) return std::nullopt;  // only 32-bit images carry 32-bit code ranges
  optional.U8(linker);
  optional.U8(linker);
  optional.U32(info.sizeOfCode);
  optional.U32(ignored);  // size of initialised data
  optional.U32(ignored);  // size of uninitialised data
  optional.U32(ignored);  // entry point
  optional.U32(info.baseOfCode);
  optional.U32(ignored);  // base of data
  optional.U32(info.imageBase);
  return info;
}

}  // namespace tarnwick
