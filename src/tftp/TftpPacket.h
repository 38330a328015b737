// Building and reading TFTP packets (RFC 1350), as small pure functions over
// byte strings. Builders write into a caller's string so a transfer reuses one
// buffer for every block; readers check the length before every byte they
// read and never look past the end of a datagram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick::tftp {

enum Opcode : std::uint16_t { kRrq = 1, kWrq = 2, kData = 3, kAck = 4, kError = 5 };

inline constexpr std::int32_t kBlockSize = 512;
inline constexpr std::size_t kHeaderSize = 4;  // opcode + block number / error code
inline constexpr char kMode[] = "octet";
// The one ERROR packet this client sends: an out-of-order DATA block. The
// spelling is what devices in the field have always received; keep it.
inline constexpr std::uint16_t kSerialErrorCode = 5;
inline constexpr char kSerialErrorText[] = "Unexcepted serial#";

// The 16-bit number (high byte first) at offset; 0 when either of its two
// bytes lies beyond the end of the packet.
std::uint16_t ReadNumber(std::string_view packet, std::size_t offset);
inline std::uint16_t ReadOpcode(std::string_view packet) { return ReadNumber(packet, 0); }

// Request body: name, zero byte, "octet", zero byte. The name goes in byte for
// byte; nothing is checked or converted.
void BuildRequestBody(std::string& out, std::string_view remoteName);
// RRQ or WRQ: opcode followed by the request body.
void BuildRequest(std::string& out, std::uint16_t opcode, std::string_view remoteName);
// A packet as the send step of a transfer builds it: for a WRQ the opcode and
// the body (which is the whole request); for anything else opcode, block
// number and body.
void BuildPacket(std::string& out, std::uint16_t opcode, std::uint16_t block, std::string_view body);
void BuildAck(std::string& out, std::uint16_t block);
// Opcode 5, code 5, "Unexcepted serial#", zero byte: 23 bytes.
void BuildSerialError(std::string& out);

// True for a datagram of at least 4 bytes that starts with ACK of block;
// anything after the fourth byte is ignored.
bool IsAckOf(std::string_view packet, std::uint16_t block);
// True for a datagram of at least 4 bytes with the DATA opcode.
bool IsData(std::string_view packet);
// The data bytes of a DATA packet (everything after the header, any length).
std::string_view DataBytes(std::string_view packet);

struct PeerError {
  std::uint16_t code = 0;
  std::string text;
};
// Reads an ERROR packet: the code from bytes 3-4, the text from byte 5 up to
// the first zero byte (or the end), trimmed of bytes 0..32 at both ends.
PeerError ReadError(std::string_view packet);

// Removes every leading and trailing byte whose value is 32 or less.
std::string_view TrimBlanksAndControls(std::string_view text);

// A 16-bit block counter that wraps from 65535 to 0.
constexpr std::uint16_t NextBlock(std::uint16_t block) { return static_cast<std::uint16_t>(block + 1); }

}  // namespace tarnwick::tftp
