// Feeds arbitrary bytes to the SOCKS reply readers and the relay header
// reader, and checks what their callers rely on: every position stays within
// the bytes received, a decoded name is exactly as long as its length byte
// says, the data handed on never exceed the datagram, and whatever the
// encoder writes reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/SocksCodec.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckSocks5(const std::string& bytes) {
  using tarnwick::SocksAddressFields;
  const SocksAddressFields f = tarnwick::DecodeSocks5Address(bytes);
  if (bytes.size() < 4) {
    Check(f.next == 0 && !f.hasPort);
    return;
  }
  if (!f.hasPort) {
    Check(f.next == 5 && f.kind == SocksAddressFields::None);
  } else {
    Check(f.next >= 7 && f.next - 1 <= bytes.size());
    if (f.kind == SocksAddressFields::Name) {
      Check(f.host.size() == static_cast<std::uint8_t>(bytes[4]));
      Check(f.next == f.host.size() + 8);
    }
    if (f.kind == SocksAddressFields::IPv4) Check(f.next == 11);
    if (f.kind == SocksAddressFields::IPv6) Check(f.next == 23);
  }
  // The relay path hands on the bytes from the position on.
  const std::size_t offset = tarnwick::RelayDataOffset(f.next, bytes.size());
  Check(offset <= bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  CheckSocks5(bytes);
  // The same bytes behind the relay's three zero bytes, as a datagram.
  CheckSocks5(tarnwick::RelayHeaderHead() + bytes);

  const tarnwick::SocksAddressFields v4 = tarnwick::DecodeSocks4Reply(bytes);
  Check(size < 8 ? v4.next == 0 : v4.next == 9);

  // Round trip: a host text and a port written by the encoder read back.
  if (size >= 2) {
    const std::uint16_t port = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
    const std::string host = bytes.substr(2);
    std::string part;
    if (tarnwick::Socks5AddressPart(host, nullptr, port, part)) {
      const tarnwick::SocksAddressFields back = tarnwick::DecodeSocks5Address(std::string(3, '\0') + part);
      Check(back.hasPort && back.port == port);
      Check(back.next == 3 + part.size() + 1);
      if (back.kind == tarnwick::SocksAddressFields::Name) Check(back.host == host);
    } else {
      Check(host.size() > tarnwick::kSocksMaxFieldLength);
    }
  }
  return 0;
}
