#include "tftp/TftpPacket.h"

namespace tarnwick::tftp {

namespace {
void PutNumber(std::string& out, std::uint16_t value) {
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value & 0xFF);
}
}  // namespace

std::uint16_t ReadNumber(std::string_view packet, std::size_t offset) {
  if (offset > packet.size() || packet.size() - offset < 2) return 0;
  return static_cast<std::uint16_t>((static_cast<unsigned char>(packet[offset]) << 8) |
                                    static_cast<unsigned char>(packet[offset + 1]));
}

void BuildRequestBody(std::string& out, std::string_view remoteName) {
  out.clear();
  out.append(remoteName);
  out += '\0';
  out.append(kMode, sizeof kMode);  // includes the terminating zero byte
}

void BuildRequest(std::string& out, std::uint16_t opcode, std::string_view remoteName) {
  out.clear();
  PutNumber(out, opcode);
  out.append(remoteName);
  out += '\0';
  out.append(kMode, sizeof kMode);
}

void BuildPacket(std::string& out, std::uint16_t opcode, std::uint16_t block, std::string_view body) {
  out.clear();
  PutNumber(out, opcode);
  if (opcode != kWrq) PutNumber(out, block);
  out.append(body);
}

void BuildAck(std::string& out, std::uint16_t block) {
  out.clear();
  PutNumber(out, kAck);
  PutNumber(out, block);
}

void BuildSerialError(std::string& out) {
  out.clear();
  PutNumber(out, kError);
  PutNumber(out, kSerialErrorCode);
  out.append(kSerialErrorText, sizeof kSerialErrorText);  // includes the zero byte
}

bool IsAckOf(std::string_view packet, std::uint16_t block) {
  return packet.size() >= kHeaderSize && ReadOpcode(packet) == kAck && ReadNumber(packet, 2) == block;
}

bool IsData(std::string_view packet) { return packet.size() >= kHeaderSize && ReadOpcode(packet) == kData; }

std::string_view DataBytes(std::string_view packet) {
  return packet.size() >= kHeaderSize ? packet.substr(kHeaderSize) : std::string_view();
}

std::string_view TrimBlanksAndControls(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return text.substr(begin, end - begin);
}

PeerError ReadError(std::string_view packet) {
  PeerError error;
  error.code = ReadNumber(packet, 2);
  if (packet.size() > kHeaderSize) {
    std::string_view message = packet.substr(kHeaderSize);
    std::size_t zero = message.find('\0');
    if (zero != std::string_view::npos) message = message.substr(0, zero);
    error.text = std::string(TrimBlanksAndControls(message));
  }
  return error;
}

}  // namespace tarnwick::tftp
