// Benchmark: datagram round trips over loopback through the direct UDP
// path (SendText + ReceiveChunk on both ends), with 4-byte and 516-byte
// datagrams as the TFTP engine exchanges them. Prints round trips per
// second; run it by hand, it asserts nothing about time.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/SocketApi.h"
#include "net/UdpBlockSocket.h"

using namespace tarnwick;

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
  SocketLayerScope layer;
  TUDPBlockSocket server;
  server.BindTo("127.0.0.1", "0");
  const std::string serverPort = std::to_string(server.LocalPortNumber());
  TUDPBlockSocket client;
  const std::string block(516, 'd');
  const std::string ack(4, 'a');
  client.ConnectTo("127.0.0.1", serverPort);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) {
    client.SendText(block);
    std::string got = server.ReceiveChunk(1000);
    if (server.LastSocketError != 0 || got.size() != block.size()) {
      std::fprintf(stderr, "server receive failed at %d: %d\n", i, server.LastSocketError);
      return 1;
    }
    server.SendText(ack);
    got = client.ReceiveChunk(1000);
    if (client.LastSocketError != 0 || got.size() != ack.size()) {
      std::fprintf(stderr, "client receive failed at %d: %d\n", i, client.LastSocketError);
      return 1;
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d round trips (516-byte block + 4-byte answer) in %.3f s: %.0f per second\n", rounds, seconds,
              rounds / seconds);
  return 0;
}
