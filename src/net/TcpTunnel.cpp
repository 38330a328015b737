// The HTTP proxy tunnel of TTCPBlockSocket: one "CONNECT" request, then the
// proxy's answer up to its empty line. Bytes the target sent after that line
// stay in PendingInput for the first receive.
#include "net/NetUtil.h"
#include "net/SocketError.h"
#include "net/TcpBlockSocket.h"

namespace tarnwick {

namespace {

constexpr int kInvalidArgument = 10022;

// The proxy's answer is a status line and a few headers. No real proxy
// sends a line near 8 KiB (common servers refuse longer header lines
// themselves) or more than a hundred lines; beyond that the proxy is
// broken or hostile, and reading on would let it hold the connect and grow
// our memory for as long as it likes.
constexpr std::size_t kLongestAnswerLine = 8 * 1024;
constexpr int kMostAnswerLines = 100;

// The reader checks all it holds, not just the line: besides a line it may
// hold the rest of one stream read, which can carry the target's first
// bytes behind the proxy's empty line.
constexpr std::int32_t kAnswerBufferLimit =
    static_cast<std::int32_t>(kLongestAnswerLine) + kLargestStreamChunk;

// Restores the caller's line limit when the answer has been read.
class LineLimitScope {
 public:
  LineLimitScope(std::int32_t& limit, std::int32_t value) : limit_(limit), saved_(limit) { limit_ = value; }
  ~LineLimitScope() { limit_ = saved_; }
  LineLimitScope(const LineLimitScope&) = delete;
  LineLimitScope& operator=(const LineLimitScope&) = delete;

 private:
  std::int32_t& limit_;
  std::int32_t saved_;
};

// Only 2xx opens the tunnel; the status code starts at the 10th byte of
// "HTTP/1.x nnn reason".
bool IsStatusLine(const std::string& line) { return line.size() > 11 && line.compare(0, 5, "HTTP/") == 0; }

}  // namespace

void TTCPBlockSocket::ConnectThroughTunnel(const std::string& host, const std::string& port) {
  // A line break inside the host would let the caller's text write request
  // headers of its own; such a host cannot name a target anyway.
  if (host.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
    LastSocketError = kInvalidArgument;
    CheckAndReport();
    return;
  }
  const std::string portText = std::to_string(LookupPort(port));
  SocksNegotiating = true;
  TBlockSocket::ConnectTo(TunnelHost, TunnelPort);
  if (LastSocketError != 0) {
    SocksNegotiating = false;
    return;
  }
  TunnelUp = false;
  const std::string target = IsIPv6Literal(host) ? "[" + host + "]" : host;
  std::string request = "CONNECT " + target + ":" + portText + " HTTP/1.0\r\n";
  if (!TunnelLogin.empty()) {
    request += "Proxy-Authorization: Basic " + Base64Encode(TunnelLogin + ":" + TunnelLoginPassword) + "\r\n";
  }
  request += "\r\n";
  SendText(request);
  {
    LineLimitScope limit(LineLengthLimit, kAnswerBufferLimit);
    for (int lines = 0; LastSocketError == 0; ++lines) {
      const std::string line = ReceiveUntil(TunnelReplyTimeout, "\n");
      if (LastSocketError != 0 || line.empty() || line == "\r") break;
      if (line.size() > kLongestAnswerLine || lines + 1 >= kMostAnswerLines) {
        TunnelUp = false;
        LastSocketError = kErrorNoBuffers;
        break;
      }
      if (IsStatusLine(line)) TunnelUp = line[9] == '2';
    }
  }
  if (LastSocketError == 0 && !TunnelUp) LastSocketError = kErrorSubsystemUnusable;
  TunnelPeerHost = target;
  TunnelPeerPort = portText;
  SocksNegotiating = false;
  CheckAndReport();
}

}  // namespace tarnwick
