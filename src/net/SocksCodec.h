// Wire forms of the SOCKS 4/5 client messages and of the SOCKS 5 UDP relay
// header, as pure functions over byte strings. Nothing here touches a
// socket or a resolver: the socket class resolves names and ports first and
// hands the results in, so every byte can be pinned by a test.
// Positions count from 1, as everywhere in the socket layer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnwick {

// Longest text a one-byte length field can announce. Longer logins,
// passwords or host names cannot be sent without the proxy misreading the
// rest of the message, so the encoders refuse them.
constexpr std::size_t kSocksMaxFieldLength = 255;

constexpr std::uint8_t kSocksCommandConnect = 1;
constexpr std::uint8_t kSocksCommandBind = 2;
constexpr std::uint8_t kSocksCommandUdpAssociate = 3;

// 05 01 00 without a login, 05 02 02 00 with one.
std::string Socks5Greeting(bool withLogin);

// 01, login length, login, password length, password. False (and nothing
// written) when either text is longer than a length byte can say.
bool Socks5UserPasswordRequest(const std::string& login, const std::string& password, std::string& out);

// The address-and-port part of a SOCKS 4 request: port, then either the 4
// bytes of an IPv4 literal and the user id, or 0.0.0.1, the user id and the
// host name, each text ended by a zero byte.
std::string Socks4AddressPart(const std::string& host, std::uint16_t port, const std::string& userId);

// The address-and-port part of a SOCKS 5 request or relay header: 01 + 4
// bytes for an IPv4 literal, 04 + the 16 bytes given for an IPv6 literal
// (ipv6 non-null), otherwise 03 + length byte + name; then the port.
// False (nothing written) for a name longer than 255 bytes.
bool Socks5AddressPart(const std::string& host, const std::uint8_t* ipv6, std::uint16_t port,
                       std::string& out);

// What a SOCKS reply (or a relay datagram) says about an address.
struct SocksAddressFields {
  enum Kind { None, IPv4, Name, IPv6 };
  Kind kind = None;
  std::string host;                     // dotted text (IPv4) or the name
  std::array<std::uint8_t, 16> ipv6{};  // the address bytes (IPv6)
  bool hasPort = false;
  std::uint16_t port = 0;
  // 1-based position just after the port; on a short or unknown reply the
  // position where the address would have started (5), or 0 when even the
  // fixed head is missing.
  std::size_t next = 0;
};

// SOCKS 4 reply: 00, code, port, 4 address bytes; needs 8 bytes.
SocksAddressFields DecodeSocks4Reply(const std::string& reply);

// SOCKS 5 reply or relay header: 4 head bytes (the 4th is the address
// type), the address, the port. Never reads past the end of the bytes.
SocksAddressFields DecodeSocks5Address(const std::string& reply);

// The 3 zero bytes (reserved word, fragment 0) that open a relay header.
std::string RelayHeaderHead();

// Bytes to deliver from a relayed datagram of `received` bytes whose data
// start at 1-based position `next` (0 meaning the header could not even be
// started, so the whole datagram is data). Never more than was received.
std::size_t RelayDataOffset(std::size_t next, std::size_t received);

}  // namespace tarnwick
