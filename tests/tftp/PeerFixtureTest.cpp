// The real peers the engine's interop tests rely on, checked packet by
// packet with a scripted client: atftpd agrees to windowsize and takes
// uploads, tftpd-hpa does not know windowsize, and the relay in front of a
// real server shows the client the server's new transfer port.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "AtftpdServer.h"
#include "ImpairRelay.h"
#include "ScriptedPeer.h"
#include "TftpdServer.h"

namespace tarnwick::testing_support {
namespace {

std::string Request(char opcode, const std::string& name,
                    const std::vector<std::pair<std::string, std::string>>& options = {}) {
  std::string p{0, opcode};
  p += name + '\0' + "octet" + '\0';
  for (const auto& [key, value] : options) p += key + '\0' + value + '\0';
  return p;
}

int Opcode(const std::string& packet) {
  return packet.size() < 2
             ? -1
             : (static_cast<unsigned char>(packet[0]) << 8) | static_cast<unsigned char>(packet[1]);
}

TEST(AtftpdPeer, AgreesToBlksizeAndWindowsizeAndSendsAWindow) {
  AtftpdServer server;
  ASSERT_EQ(server.Unavailable(), "");
  const std::string file = Pattern(1428 * 20, 5);
  server.WriteFile("w.bin", file);
  ScriptedPeer client;
  client.SendTo(server.Port(), Request(1, "w.bin", {{"blksize", "1428"}, {"windowsize", "4"}}));
  auto oack = client.Receive();
  ASSERT_TRUE(oack);
  ASSERT_EQ(Opcode(*oack), 6) << "no OACK";
  EXPECT_NE(oack->find(std::string("windowsize\0004\0", 13)), std::string::npos);
  EXPECT_NE(oack->find(std::string("blksize\0001428\0", 13)), std::string::npos);
  EXPECT_NE(client.LastSenderPort(), server.Port());
  client.Reply(Ack(0));
  // Four blocks come without waiting for an acknowledgement in between.
  for (std::uint16_t block = 1; block <= 4; ++block) {
    auto data = client.Receive();
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, Data(block, file.substr((block - 1) * 1428u, 1428)));
  }
  client.Reply(Error(0, std::string("enough\0", 7)));
}

TEST(AtftpdPeer, AcceptsAnUploadOfANewFile) {
  AtftpdServer server;
  ASSERT_EQ(server.Unavailable(), "");
  ScriptedPeer client;
  client.SendTo(server.Port(), Request(2, "up.bin"));
  ASSERT_EQ(client.Receive(), Ack(0));
  client.Reply(Data(1, "abc"));
  ASSERT_EQ(client.Receive(), Ack(1));
  EXPECT_EQ(server.ReadUpload("up.bin", 3), "abc");
}

TEST(TftpdPeer, IgnoresWindowsizeSoTheTransferIsLockStep) {
  TftpdServer server;
  ASSERT_EQ(server.Unavailable(), "");
  server.WriteFile("w.bin", Pattern(2000, 6));
  ScriptedPeer client;
  client.SendTo(server.Port(), Request(1, "w.bin", {{"windowsize", "4"}}));
  auto first = client.Receive();
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, Data(1, Pattern(2000, 6).substr(0, 512)));
  EXPECT_FALSE(client.Receive(300)) << "a second block before the first acknowledgement";
  client.Reply(Error(0, std::string("enough\0", 7)));
}

TEST(ImpairRelayPeer, ClientSeesTheRealServersTransferPortAsANewPort) {
  AtftpdServer server;
  ASSERT_EQ(server.Unavailable(), "");
  server.WriteFile("r.bin", "relayed");
  ImpairRelay relay(server.Port());
  ASSERT_EQ(relay.Unavailable(), "");
  ScriptedPeer client;
  client.SendTo(relay.Port(), Request(1, "r.bin"));
  ASSERT_EQ(client.Receive(), Data(1, "relayed"));
  EXPECT_NE(client.LastSenderPort(), relay.Port());
  client.Reply(Ack(1));
  // A second transfer gets a port of its own.
  const std::uint16_t first = client.LastSenderPort();
  client.SendTo(relay.Port(), Request(1, "r.bin"));
  ASSERT_EQ(client.Receive(), Data(1, "relayed"));
  EXPECT_NE(client.LastSenderPort(), first);
  client.Reply(Ack(1));
}

}  // namespace
}  // namespace tarnwick::testing_support
