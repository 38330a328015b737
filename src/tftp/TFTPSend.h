// The requesting side of TFTP for one whole file at a time, in octet mode,
// between a server and the in-memory stream Content. Strict lock step: one
// packet out, one wait of ReplyTimeout for the answer, and anything but the
// expected answer ends the transfer. No retransmission, no options. Failures
// are a false result plus PeerErrorCode/PeerErrorText; the engine raises
// nothing of its own.
#pragma once

#include <cstdint>
#include <string>

#include "base/MemoryStream.h"
#include "net/UdpBlockSocket.h"
#include "tftp/NetClient.h"

namespace tarnwick {

class TTFTPSend : public TNetClient {
 public:
  TTFTPSend();
  ~TTFTPSend() override;
  TTFTPSend(const TTFTPSend&) = delete;
  TTFTPSend& operator=(const TTFTPSend&) = delete;

  TUDPBlockSocket UdpSocket;
  // Code and trimmed text of the ERROR packet that ended the last exchange;
  // 0 and empty when none did.
  std::int32_t PeerErrorCode = 0;
  std::string PeerErrorText;
  TMemoryStream Content;

  // Write request: sends Content from position 0; true once every byte has
  // been acknowledged. Content is left unchanged.
  bool PutFile(const std::string& remoteName);
  // Read request: replaces Content with the file; true once the last block
  // has arrived and been acknowledged (Content then at position 0).
  bool GetFile(const std::string& remoteName);

  // One send-and-wait exchange: true when ACK of block came back (block 0
  // for a WRQ, whose body is the whole request).
  bool PutPacket(std::uint16_t opcode, std::uint16_t block, const std::string& body);
  // One wait-and-acknowledge exchange: true when DATA of the expected block
  // arrived and its ACK went out; data receives its bytes (reusing its
  // buffer).
  bool GetPacket(std::uint16_t expected, std::string& data);

 private:
  void ClearPeerError();
  void TakePeerError(const std::string& packet);

  // Reused for every packet of every transfer, so the per-block path of a
  // transfer does not allocate.
  std::string packet_;
  std::string block_;
  // Every answer is received into this one buffer.
  std::string answer_;
};

}  // namespace tarnwick
