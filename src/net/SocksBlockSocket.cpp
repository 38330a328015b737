// The three SOCKS client steps (greeting, request, reply) of
// TSocksBlockSocket and the address encoding they share with the UDP relay
// header. The bytes themselves are built and read by SocksCodec; this file
// adds the conversation over the object's own connection to the proxy.
#include "net/SocksBlockSocket.h"

#include <string>

#include "net/NetUtil.h"
#include "net/SocksCodec.h"

namespace tarnwick {

namespace {

// Marks a proxy exchange for its whole duration, so that TLS stays out of
// the way until the tunnel to the target exists.
class NegotiationScope {
 public:
  explicit NegotiationScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~NegotiationScope() { flag_ = false; }
  NegotiationScope(const NegotiationScope&) = delete;
  NegotiationScope& operator=(const NegotiationScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

bool TSocksBlockSocket::SocksGreet() {
  SocksActive = false;
  if (SocksVersion != 0) {
    // SOCKS 4 has no greeting: the request itself opens the exchange.
    SocksActive = true;
    return true;
  }
  NegotiationScope negotiating(SocksNegotiating);
  // Built before anything is sent: a proxy may pick user/password even when
  // we offered only "no authentication", and then gets the request with
  // whatever login we have (empty ones included) rather than silence.
  std::string userPassword;
  if (!Socks5UserPasswordRequest(SocksLogin, SocksLoginPassword, userPassword) && !SocksLogin.empty()) {
    return false;  // not expressible on the wire; say nothing rather than garble it
  }
  SendText(Socks5Greeting(!SocksLogin.empty()));
  if (LastSocketError != 0) return false;
  std::string answer = ReceiveText(2, SocksReplyTimeout);
  if (answer.size() < 2 || answer[0] != '\x05') return false;
  switch (static_cast<std::uint8_t>(answer[1])) {
    case 0x00:
      break;
    case 0x02: {
      if (userPassword.empty()) return false;  // a password no length byte can announce
      SendText(userPassword);
      if (LastSocketError != 0) return false;
      answer = ReceiveText(2, SocksReplyTimeout);
      if (answer.size() < 2 || answer[1] != '\x00') return false;
      break;
    }
    default:
      return false;
  }
  SocksActive = true;
  return true;
}

bool TSocksBlockSocket::SocksSendRequest(std::uint8_t command, const std::string& host,
                                         const std::string& port) {
  NegotiationScope negotiating(SocksNegotiating);
  std::string address = SocksEncodeAddress(host, port);
  if (address.empty()) return false;  // a name too long for its length byte
  std::string request;
  if (SocksVersion != 0) {
    request += '\x04';
    request += static_cast<char>(command);
  } else {
    request += '\x05';
    request += static_cast<char>(command);
    request += '\x00';
  }
  request += address;
  SendText(request);
  return LastSocketError == 0;
}

std::string TSocksBlockSocket::SocksEncodeAddress(const std::string& host, const std::string& port) {
  std::string target = SocksRemoteResolve ? host : LookupFirstAddress(host);
  const std::uint16_t portNumber = LookupPort(port);
  if (SocksVersion != 0) return Socks4AddressPart(target, portNumber, SocksLogin);
  std::string out;
  if (!IsIPv4Literal(target) && IsIPv6Literal(target)) {
    SocketAddress parsed;
    ParseIPv6Literal(target, parsed);
    Socks5AddressPart(target, parsed.IPv6Bytes(), portNumber, out);
  } else if (!Socks5AddressPart(target, nullptr, portNumber, out)) {
    out.clear();
  }
  return out;
}

bool TSocksBlockSocket::SocksReadReply() {
  NegotiationScope negotiating(SocksNegotiating);
  SocksReplyHost.clear();
  SocksReplyPort.clear();
  SocksReplyCode = -1;
  std::string reply;
  if (SocksVersion != 0) {
    reply = ReceiveText(8, SocksReplyTimeout);
    if (LastSocketError != 0 || reply.size() < 8 || reply[0] != '\x00') return false;
  } else {
    reply = ReceiveText(4, SocksReplyTimeout);
    if (LastSocketError != 0 || reply.size() < 4 || reply[0] != '\x05') return false;
    std::string address;
    switch (static_cast<std::uint8_t>(reply[3])) {
      case 1:
        address = ReceiveText(4, SocksReplyTimeout);
        break;
      case 3: {
        const std::uint8_t n = ReceiveOctet(SocksReplyTimeout);
        if (LastSocketError != 0) return false;
        address = static_cast<char>(n);
        address += ReceiveText(n, SocksReplyTimeout);
        break;
      }
      case 4:
        address = ReceiveText(16, SocksReplyTimeout);
        break;
      default:
        return false;
    }
    if (LastSocketError != 0) return false;
    std::string port = ReceiveText(2, SocksReplyTimeout);
    if (LastSocketError != 0) return false;
    reply += address + port;
  }
  SocksReplyCode = static_cast<std::uint8_t>(reply[1]);
  if (SocksReplyCode != 0 && SocksReplyCode != 90) return false;
  SocksDecodeAddress(reply);
  return true;
}

std::size_t TSocksBlockSocket::SocksDecodeAddress(const std::string& reply) {
  SocksReplyPort = "0";
  SocksAddressFields fields = SocksVersion != 0 ? DecodeSocks4Reply(reply) : DecodeSocks5Address(reply);
  if (fields.kind == SocksAddressFields::IPv6) {
    SocketAddress address;
    address.Clear();
    address.family = kFamilyIPv6;
    for (std::size_t i = 0; i < 16; ++i) address.IPv6Bytes()[i] = fields.ipv6[i];
    SocksReplyHost = IPv6AddressText(address);
  } else if (fields.kind != SocksAddressFields::None) {
    SocksReplyHost = fields.host;
  }
  if (fields.hasPort) SocksReplyPort = std::to_string(fields.port);
  return fields.next;
}

}  // namespace tarnwick
