// Benchmark, run by hand: relay_bench [rounds]
// Prints the cost of one datagram round trip sent directly and sent through
// a SOCKS 5 relay (scripted proxy and relay on loopback), where every send
// sets up the association again on a fresh control connection, and the
// decode rate of the relay header reader.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "NetTestPeers.h"
#include "SocksScriptedPeer.h"
#include "net/SocksCodec.h"
#include "net/TcpBlockSocket.h"
#include "net/UdpBlockSocket.h"

namespace {

using Clock = std::chrono::steady_clock;
using tarnwick::test::Bytes;

double MicrosPer(Clock::time_point start, int rounds) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds;
}

// Sends `rounds` datagrams and waits for each echo; false on any loss.
bool RoundTrips(tarnwick::TUDPBlockSocket& socket, tarnwick::test::LoopbackUdpPeer& echo, int rounds,
                const std::string& replyHead) {
  std::string payload(64, 'p');
  std::string got;
  for (int i = 0; i < rounds; ++i) {
    if (socket.SendText(payload) <= 0) return false;
    if (!echo.Receive(got, 2000)) return false;
    echo.Reply(replyHead + payload);
    if (socket.ReceiveChunk(2000) != payload) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tarnwick;
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
  SocketLayerScope layer;

  {
    test::LoopbackUdpPeer echo("127.0.0.1");
    TUDPBlockSocket socket;
    socket.ConnectTo("127.0.0.1", echo.PortText());
    const auto start = Clock::now();
    if (!RoundTrips(socket, echo, rounds, "")) return 1;
    std::printf("direct round trip:  %8.1f us\n", MicrosPer(start, rounds));
  }
  {
    test::LoopbackUdpPeer relay("127.0.0.1");
    std::vector<test::ScriptStep> steps;
    const std::string relayPort = Bytes({relay.Port() >> 8, relay.Port() & 0xFF});
    for (int i = 0; i < rounds; ++i) {
      steps.push_back({3, "", Bytes({5, 0}), false, true});
      steps.push_back({10, "", Bytes({5, 0, 0, 1, 127, 0, 0, 1}) + relayPort});
    }
    test::ScriptedProxy proxy(steps);
    TUDPBlockSocket socket;
    socket.SocksServer = "127.0.0.1";
    socket.SocksServerPort = proxy.PortText();
    socket.ConnectTo("127.0.0.1", "9");
    const auto start = Clock::now();
    if (!RoundTrips(socket, relay, rounds, Bytes({0, 0, 0, 1, 127, 0, 0, 1, 0, 9}))) return 1;
    std::printf("relayed round trip: %8.1f us (association included)\n", MicrosPer(start, rounds));
  }
  {
    const std::string datagram = Bytes({0, 0, 0, 3, 11}) + "relay.local" + Bytes({0, 53}) + std::string(512, 'd');
    const int decodes = rounds * 2000;
    std::size_t sink = 0;
    const auto start = Clock::now();
    for (int i = 0; i < decodes; ++i) sink += DecodeSocks5Address(datagram).next;
    std::printf("relay header decode: %7.3f us (%zu)\n", MicrosPer(start, decodes), sink % 7);
  }
  return 0;
}
