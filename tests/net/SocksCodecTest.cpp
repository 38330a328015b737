// The SOCKS and relay wire forms, byte for byte, and the reply readers at
// every length boundary: each short form must be refused without reading a
// byte past the end.
#include <gtest/gtest.h>

#include <string>

#include "SocksScriptedPeer.h"
#include "net/SocksBlockSocket.h"
#include "net/SocksCodec.h"

namespace tarnwick {
namespace {

using test::Bytes;

TEST(SocksCodec, GreetingAndUserPassword) {
  EXPECT_EQ(Socks5Greeting(false), Bytes({5, 1, 0}));
  EXPECT_EQ(Socks5Greeting(true), Bytes({5, 2, 2, 0}));
  std::string out;
  ASSERT_TRUE(Socks5UserPasswordRequest("user", "pw", out));
  EXPECT_EQ(out, Bytes({1, 4}) + "user" + Bytes({2}) + "pw");
  ASSERT_TRUE(Socks5UserPasswordRequest("", "", out));
  EXPECT_EQ(out, Bytes({1, 0, 0}));
  struct Row {
    std::size_t login, password;
    bool ok;
  } rows[] = {{255, 0, true}, {0, 255, true}, {256, 1, false}, {1, 256, false}, {255, 255, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.login) + "/" + std::to_string(row.password));
    EXPECT_EQ(Socks5UserPasswordRequest(std::string(row.login, 'u'), std::string(row.password, 'p'), out),
              row.ok);
    if (row.ok) {
      EXPECT_EQ(out.size(), 3 + row.login + row.password);
      EXPECT_EQ(static_cast<std::uint8_t>(out[1]), row.login);
      EXPECT_EQ(static_cast<std::uint8_t>(out[2 + row.login]), row.password);
    } else {
      EXPECT_TRUE(out.empty()) << "nothing half-built is handed out";
    }
  }
}

TEST(SocksCodec, Socks4AddressForms) {
  EXPECT_EQ(Socks4AddressPart("10.0.0.1", 80, "user"), Bytes({0, 80, 10, 0, 0, 1}) + "user" + Bytes({0}));
  EXPECT_EQ(Socks4AddressPart("10.0.0.1", 0x1234, ""), Bytes({0x12, 0x34, 10, 0, 0, 1, 0}));
  // A name goes after the user id, behind the marker address 0.0.0.1.
  EXPECT_EQ(Socks4AddressPart("host.example", 65535, "id"),
            Bytes({0xFF, 0xFF, 0, 0, 0, 1}) + "id" + Bytes({0}) + "host.example" + Bytes({0}));
  EXPECT_EQ(Socks4AddressPart("h", 1, ""), Bytes({0, 1, 0, 0, 0, 1, 0}) + "h" + Bytes({0}));
}

TEST(SocksCodec, Socks5AddressForms) {
  std::string out;
  ASSERT_TRUE(Socks5AddressPart("192.168.1.2", nullptr, 1080, out));
  EXPECT_EQ(out, Bytes({1, 192, 168, 1, 2, 0x04, 0x38}));
  std::uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01};
  ASSERT_TRUE(Socks5AddressPart("2001:db8::1", v6, 443, out));
  EXPECT_EQ(out, Bytes({4}) + std::string(reinterpret_cast<const char*>(v6), 16) + Bytes({1, 0xBB}));
  ASSERT_TRUE(Socks5AddressPart("proxy", nullptr, 0, out));
  EXPECT_EQ(out, Bytes({3, 5}) + "proxy" + Bytes({0, 0}));
  ASSERT_TRUE(Socks5AddressPart(std::string(255, 'n'), nullptr, 1, out));
  EXPECT_EQ(out.size(), 2u + 255u + 2u);
  EXPECT_EQ(static_cast<std::uint8_t>(out[1]), 255);
  EXPECT_FALSE(Socks5AddressPart(std::string(256, 'n'), nullptr, 1, out)) << "a length byte cannot say 256";
  EXPECT_TRUE(out.empty());
}

TEST(SocksCodec, Socks4ReplyLengths) {
  const std::string full = Bytes({0, 90, 0x1F, 0x90, 127, 0, 0, 1});
  for (std::size_t n = 0; n < full.size(); ++n) {
    SCOPED_TRACE(n);
    SocksAddressFields f = DecodeSocks4Reply(full.substr(0, n));
    EXPECT_EQ(f.next, 0u);
    EXPECT_FALSE(f.hasPort);
  }
  SocksAddressFields f = DecodeSocks4Reply(full);
  EXPECT_EQ(f.next, 9u);
  EXPECT_EQ(f.host, "127.0.0.1");
  EXPECT_EQ(f.port, 8080);
}

// Every prefix of a well-formed reply of each address type: below the head
// nothing at all, below the full length the address position (5) and no
// port, at the full length the whole address and the position after it.
TEST(SocksCodec, Socks5ReplyEveryPrefix) {
  struct Row {
    const char* name;
    std::string reply;
    std::size_t next;
    std::string host;
    std::uint16_t port;
  } rows[] = {
      {"ipv4", Bytes({5, 0, 0, 1, 10, 1, 2, 3, 0x00, 0x50}), 11, "10.1.2.3", 80},
      {"name5", Bytes({5, 0, 0, 3, 5}) + "relay" + Bytes({0x30, 0x39}), 13, "relay", 12345},
      {"name0", Bytes({5, 0, 0, 3, 0, 0x00, 0x01}), 8, "", 1},
      {"ipv6", Bytes({5, 0, 0, 4}) + std::string(15, '\0') + Bytes({1, 0xFF, 0xFF}), 23, "", 65535},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (std::size_t n = 0; n <= row.reply.size(); ++n) {
      SCOPED_TRACE(n);
      SocksAddressFields f = DecodeSocks5Address(row.reply.substr(0, n));
      if (n < 4) {
        EXPECT_EQ(f.next, 0u);
      } else if (n < row.reply.size()) {
        EXPECT_EQ(f.next, 5u);
        EXPECT_FALSE(f.hasPort);
        EXPECT_EQ(f.kind, SocksAddressFields::None);
      } else {
        EXPECT_EQ(f.next, row.next);
        EXPECT_TRUE(f.hasPort);
        EXPECT_EQ(f.port, row.port);
        if (f.kind != SocksAddressFields::IPv6) {
          EXPECT_EQ(f.host, row.host);
        }
      }
    }
  }
  // Trailing bytes (relay data) do not move the position.
  SocksAddressFields f = DecodeSocks5Address(rows[0].reply + "payload");
  EXPECT_EQ(f.next, 11u);
}

TEST(SocksCodec, Socks5ReplyUnknownTypeAndLyingLength) {
  for (int type : {0, 2, 5, 0xFF}) {
    SCOPED_TRACE(type);
    SocksAddressFields f = DecodeSocks5Address(Bytes({5, 0, 0, type, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(f.next, 5u);
    EXPECT_FALSE(f.hasPort);
  }
  // The length byte says 200 but only 3 bytes follow.
  SocksAddressFields f = DecodeSocks5Address(Bytes({5, 0, 0, 3, 200}) + "abc");
  EXPECT_EQ(f.next, 5u);
  EXPECT_TRUE(f.host.empty());
}

TEST(SocksCodec, RelayDataOffsets) {
  struct Row {
    std::size_t next, received, offset;
  } rows[] = {{0, 3, 0},    {0, 0, 0},    {1, 5, 0},    {5, 20, 4},
              {11, 20, 10}, {11, 10, 10}, {13, 12, 12}, {40, 3, 3}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.next) + "/" + std::to_string(row.received));
    EXPECT_EQ(RelayDataOffset(row.next, row.received), row.offset);
  }
  EXPECT_EQ(RelayHeaderHead(), Bytes({0, 0, 0}));
}

// The socket's own decode step: fields filled, port text reset first.
TEST(SocksDecodeAddress, FillsReplyFields) {
  TSocksBlockSocket s;
  EXPECT_EQ(s.SocksDecodeAddress(Bytes({5, 0, 0, 3, 5}) + "proxy" + Bytes({0x12, 0x34})), 13u);
  EXPECT_EQ(s.SocksReplyHost, "proxy");
  EXPECT_EQ(s.SocksReplyPort, "4660");
  // Too short: the port reads "0", the host stays as it was.
  EXPECT_EQ(s.SocksDecodeAddress(Bytes({5, 0, 0, 1, 9, 9})), 5u);
  EXPECT_EQ(s.SocksReplyHost, "proxy");
  EXPECT_EQ(s.SocksReplyPort, "0");
  EXPECT_EQ(s.SocksDecodeAddress(Bytes({5, 0})), 0u);
  EXPECT_EQ(s.SocksReplyPort, "0");
  std::string v6 = Bytes({5, 0, 0, 4}) + std::string(15, '\0') + Bytes({1, 0, 21});
  EXPECT_EQ(s.SocksDecodeAddress(v6), 23u);
  EXPECT_EQ(s.SocksReplyHost, "::1");
  EXPECT_EQ(s.SocksReplyPort, "21");
  s.SocksVersion = 4;
  EXPECT_EQ(s.SocksDecodeAddress(Bytes({0, 90, 0, 21, 10, 0, 0, 9})), 9u);
  EXPECT_EQ(s.SocksReplyHost, "10.0.0.9");
  EXPECT_EQ(s.SocksReplyPort, "21");
  EXPECT_EQ(s.SocksDecodeAddress(Bytes({0, 90, 0, 21, 10, 0, 0})), 0u);
  EXPECT_EQ(s.SocksReplyPort, "0");
}

TEST(SocksEncodeAddress, RemoteResolveAndVersions) {
  TSocksBlockSocket s;
  s.SetAddressFamily(FamilyIPv4);
  EXPECT_EQ(s.SocksEncodeAddress("localhost", "80"), Bytes({3, 9}) + "localhost" + Bytes({0, 80}));
  s.SocksRemoteResolve = false;
  EXPECT_EQ(s.SocksEncodeAddress("localhost", "80"), Bytes({1, 127, 0, 0, 1, 0, 80}));
  s.SocksRemoteResolve = true;
  EXPECT_EQ(s.SocksEncodeAddress("::1", "1"), Bytes({4}) + std::string(15, '\0') + Bytes({1, 0, 1}));
  EXPECT_EQ(s.SocksEncodeAddress(std::string(256, 'a'), "1"), "") << "unsendable name";
  s.SocksVersion = 4;
  s.SocksLogin = "me";
  EXPECT_EQ(s.SocksEncodeAddress("name.test", "21"),
            Bytes({0, 21, 0, 0, 0, 1}) + "me" + Bytes({0}) + "name.test" + Bytes({0}));
  EXPECT_EQ(s.SocksEncodeAddress("10.0.0.1", "21"), Bytes({0, 21, 10, 0, 0, 1}) + "me" + Bytes({0}));
}

}  // namespace
}  // namespace tarnwick
