#include "net/SocksCodec.h"

#include <cstdio>

#include "net/NetUtil.h"

namespace tarnwick {

namespace {

std::string DottedText(const std::string& bytes, std::size_t index) {
  char text[16];
  std::snprintf(text, sizeof(text), "%d.%d.%d.%d", static_cast<std::uint8_t>(bytes[index]),
                static_cast<std::uint8_t>(bytes[index + 1]), static_cast<std::uint8_t>(bytes[index + 2]),
                static_cast<std::uint8_t>(bytes[index + 3]));
  return text;
}

}  // namespace

std::string Socks5Greeting(bool withLogin) {
  return withLogin ? std::string("\x05\x02\x02\x00", 4) : std::string("\x05\x01\x00", 3);
}

bool Socks5UserPasswordRequest(const std::string& login, const std::string& password, std::string& out) {
  out.clear();
  if (login.size() > kSocksMaxFieldLength || password.size() > kSocksMaxFieldLength) return false;
  out += '\x01';
  out += static_cast<char>(login.size());
  out += login;
  out += static_cast<char>(password.size());
  out += password;
  return true;
}

std::string Socks4AddressPart(const std::string& host, std::uint16_t port, const std::string& userId) {
  std::string out = EncodeWord(port);
  if (IsIPv4Literal(host)) {
    out += IPv4ToBytes(host);
    out += userId;
    out += '\0';
  } else {
    // The name extension: an address no host can have (0.0.0.x, x != 0)
    // tells the proxy to resolve the name that follows the user id.
    out += std::string("\x00\x00\x00\x01", 4);
    out += userId;
    out += '\0';
    out += host;
    out += '\0';
  }
  return out;
}

bool Socks5AddressPart(const std::string& host, const std::uint8_t* ipv6, std::uint16_t port,
                       std::string& out) {
  out.clear();
  if (IsIPv4Literal(host)) {
    out += '\x01';
    out += IPv4ToBytes(host);
  } else if (ipv6 != nullptr) {
    out += '\x04';
    out.append(reinterpret_cast<const char*>(ipv6), 16);
  } else {
    if (host.size() > kSocksMaxFieldLength) return false;
    out += '\x03';
    out += static_cast<char>(host.size());
    out += host;
  }
  out += EncodeWord(port);
  return true;
}

SocksAddressFields DecodeSocks4Reply(const std::string& reply) {
  SocksAddressFields fields;
  if (reply.size() < 8) return fields;
  fields.kind = SocksAddressFields::IPv4;
  fields.port = DecodeWord(reply, 3);
  fields.hasPort = true;
  fields.host = DottedText(reply, 4);
  fields.next = 9;
  return fields;
}

SocksAddressFields DecodeSocks5Address(const std::string& reply) {
  SocksAddressFields fields;
  if (reply.size() < 4) return fields;
  // From here on a reply that is too short for its address type ends at the
  // address's first byte, without a port.
  fields.next = 5;
  std::size_t position = 0;
  switch (static_cast<std::uint8_t>(reply[3])) {
    case 1:
      if (reply.size() < 10) return fields;
      fields.kind = SocksAddressFields::IPv4;
      fields.host = DottedText(reply, 4);
      position = 9;
      break;
    case 3: {
      if (reply.size() < 5) return fields;
      const std::size_t n = static_cast<std::uint8_t>(reply[4]);
      if (reply.size() < n + 7) return fields;
      fields.kind = SocksAddressFields::Name;
      fields.host = reply.substr(5, n);
      position = n + 6;
      break;
    }
    case 4:
      if (reply.size() < 22) return fields;
      fields.kind = SocksAddressFields::IPv6;
      for (std::size_t i = 0; i < 16; ++i) fields.ipv6[i] = static_cast<std::uint8_t>(reply[4 + i]);
      position = 21;
      break;
    default:
      return fields;
  }
  fields.port = DecodeWord(reply, position);
  fields.hasPort = true;
  fields.next = position + 2;
  return fields;
}

std::string RelayHeaderHead() { return std::string(3, '\0'); }

std::size_t RelayDataOffset(std::size_t next, std::size_t received) {
  if (next <= 1) return 0;
  return next - 1 < received ? next - 1 : received;
}

}  // namespace tarnwick
