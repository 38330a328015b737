// Feeds arbitrary datagrams to every packet reader and to the path a device's
// error text takes to the log, and checks what each reader promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/TransferNames.h"
#include "base/TextCodec.h"
#include "tftp/TftpPacket.h"

namespace {
void Require(bool condition) {
  if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  const std::string_view packet(reinterpret_cast<const char*>(data), size);

  for (std::size_t offset : {std::size_t{0}, std::size_t{2}, size, size + 1, static_cast<std::size_t>(-1)})
    if (offset + 2 > size || offset > size) Require(tftp::ReadNumber(packet, offset) == 0);

  const bool data_packet = tftp::IsData(packet);
  Require(data_packet == (size >= 4 && tftp::ReadOpcode(packet) == tftp::kData));
  if (data_packet) Require(tftp::DataBytes(packet).size() == size - 4);
  Require(tftp::IsAckOf(packet, tftp::ReadNumber(packet, 2)) ==
          (size >= 4 && tftp::ReadOpcode(packet) == tftp::kAck));

  const tftp::PeerError error = tftp::ReadError(packet);
  Require(error.text.size() + 4 <= size || error.text.empty());
  Require(error.text.find('\0') == std::string::npos);
  if (!error.text.empty()) {
    Require(static_cast<unsigned char>(error.text.front()) > 32);
    Require(static_cast<unsigned char>(error.text.back()) > 32);
  }

  // The device's text as the log shows it: decoded, one line.
  const std::string line = ErrorCodeLine(error.code, Cp932ToUtf8(error.text));
  for (char c : line) Require(static_cast<unsigned char>(c) >= 32 && c != 127);
  Require(Utf8ToUtf16Strict(line).has_value());

  // Arbitrary bytes as a typed name must never break the encoder.
  (void)Utf8ToCp932(packet);
  return 0;
}
