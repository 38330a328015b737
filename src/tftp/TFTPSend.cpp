#include "tftp/TFTPSend.h"

#include "tftp/TftpPacket.h"

namespace tarnwick {

namespace {

// Closes the transfer's system socket on every way out, including an error
// raised while Content grows.
class EndpointGuard {
 public:
  explicit EndpointGuard(TUDPBlockSocket& socket) : socket_(socket) {}
  ~EndpointGuard() { socket_.CloseEndpoint(); }
  EndpointGuard(const EndpointGuard&) = delete;
  EndpointGuard& operator=(const EndpointGuard&) = delete;

 private:
  TUDPBlockSocket& socket_;
};

}  // namespace

TTFTPSend::TTFTPSend() {
  ServerPort = "69";
  packet_.reserve(tftp::kHeaderSize + tftp::kBlockSize);
  block_.reserve(tftp::kBlockSize);
  answer_.reserve(tftp::kHeaderSize + tftp::kBlockSize);
}

TTFTPSend::~TTFTPSend() = default;

void TTFTPSend::ClearPeerError() {
  PeerErrorCode = 0;
  PeerErrorText.clear();
}

void TTFTPSend::TakePeerError(const std::string& packet) {
  tftp::PeerError error = tftp::ReadError(packet);
  PeerErrorCode = error.code;
  PeerErrorText = std::move(error.text);
}

bool TTFTPSend::PutPacket(std::uint16_t opcode, std::uint16_t block, const std::string& body) {
  ClearPeerError();
  tftp::BuildPacket(packet_, opcode, block, body);
  // A failed send shows up as a missing answer below.
  UdpSocket.SendText(packet_);
  UdpSocket.ReceiveChunkInto(ReplyTimeout, answer_);
  const std::string& answer = answer_;
  if (UdpSocket.LastSocketError != 0 || answer.size() < tftp::kHeaderSize) return false;
  const std::uint16_t expected = opcode == tftp::kWrq ? 0 : block;
  if (tftp::IsAckOf(answer, expected)) return true;
  if (tftp::ReadOpcode(answer) == tftp::kError) TakePeerError(answer);
  return false;
}

bool TTFTPSend::GetPacket(std::uint16_t expected, std::string& data) {
  ClearPeerError();
  data.clear();
  UdpSocket.ReceiveChunkInto(ReplyTimeout, answer_);
  const std::string& answer = answer_;
  if (UdpSocket.LastSocketError != 0) return false;
  if (tftp::IsData(answer)) {
    if (tftp::ReadNumber(answer, 2) == expected) {
      std::string_view bytes = tftp::DataBytes(answer);
      data.assign(bytes.data(), bytes.size());
      tftp::BuildAck(packet_, expected);
      UdpSocket.SendText(packet_);
      return UdpSocket.LastSocketError == 0;
    }
    // Out of order (typically the previous block again after a lost ACK):
    // tell the sender and give up, since this client never retransmits.
    tftp::BuildSerialError(packet_);
    UdpSocket.SendText(packet_);
    PeerErrorCode = tftp::kSerialErrorCode;
    PeerErrorText = tftp::kSerialErrorText;
    return false;
  }
  if (answer.size() >= tftp::kHeaderSize && tftp::ReadOpcode(answer) == tftp::kError) TakePeerError(answer);
  return false;
}

bool TTFTPSend::PutFile(const std::string& remoteName) {
  ClearPeerError();
  UdpSocket.CloseEndpoint();
  EndpointGuard guard(UdpSocket);
  UdpSocket.ConnectTo(ServerHost, ServerPort);
  if (UdpSocket.LastSocketError != 0) return false;

  std::string request;
  tftp::BuildRequestBody(request, remoteName);
  if (!PutPacket(tftp::kWrq, 0, request)) return false;

  Content.SetPosition(0);
  const std::int64_t size = Content.Size();
  const std::int64_t wholeBlocks = size / tftp::kBlockSize;
  const auto rest = static_cast<std::int32_t>(size % tftp::kBlockSize);
  std::uint16_t block = 1;
  for (std::int64_t i = 0; i < wholeBlocks; ++i) {
    block_.resize(tftp::kBlockSize);
    block_.resize(static_cast<std::size_t>(Content.Read(block_.data(), tftp::kBlockSize)));
    if (!PutPacket(tftp::kData, block, block_)) return false;
    block = tftp::NextBlock(block);
  }
  // Always a last block shorter than 512 bytes, empty when the size is a
  // multiple of 512: that is how the server knows the file has ended.
  block_.resize(tftp::kBlockSize);
  block_.resize(static_cast<std::size_t>(Content.Read(block_.data(), rest)));
  return PutPacket(tftp::kData, block, block_);
}

bool TTFTPSend::GetFile(const std::string& remoteName) {
  ClearPeerError();
  UdpSocket.CloseEndpoint();
  EndpointGuard guard(UdpSocket);
  UdpSocket.ConnectTo(ServerHost, ServerPort);
  if (UdpSocket.LastSocketError != 0) return false;

  tftp::BuildRequest(packet_, tftp::kRrq, remoteName);
  UdpSocket.SendText(packet_);
  if (UdpSocket.LastSocketError != 0) return false;

  Content.Clear();
  std::uint16_t expected = 1;
  for (;;) {
    if (!GetPacket(expected, block_)) return false;
    expected = tftp::NextBlock(expected);
    const auto length = static_cast<std::int32_t>(block_.size());
    // Content cannot hold more than its 32-bit size: a larger file fails as
    // a transfer without a device error instead of wrapping the size.
    if (!FitsInStream(Content.Position(), length, Content.SizeLimit())) return false;
    Content.WriteBuffer(block_.data(), length);
    if (length != tftp::kBlockSize) break;
  }
  Content.SetPosition(0);
  return true;
}

}  // namespace tarnwick
