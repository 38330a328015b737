// TLS switched on where the library cannot be had: candidate names that do
// not exist, or a pair of which only one half loads, leave TLS unavailable
// (10043) without a crash, and nothing stays half-loaded.
#include <gtest/gtest.h>

#include <string>

#include "NetTestPeers.h"
#include "net/TcpBlockSocket.h"
#include "net/TlsApi.h"

namespace tarnwick {
namespace {

class TlsWithoutLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    UnloadTlsLibrary();
    SetTlsLibraryNames({{"tarnwick-absent-ssl.so.9", "tarnwick-absent-crypto.so.9"}});
  }
  void TearDown() override {
    SetTlsLibraryNames({});
    UnloadTlsLibrary();
  }
};

TEST_F(TlsWithoutLibrary, SetTlsStateReports10043) {
  TTCPBlockSocket socket;
  socket.SetTlsState(true);
  EXPECT_EQ(socket.LastSocketError, 10043);
  EXPECT_FALSE(socket.TlsOn);
  EXPECT_EQ(socket.TlsContext, nullptr);
  EXPECT_EQ(socket.TlsSession, nullptr);
  EXPECT_FALSE(TlsLibraryLoaded());
  // Turning off what is off is no error.
  socket.SetTlsState(false);
  EXPECT_EQ(socket.LastSocketError, 0);
}

TEST_F(TlsWithoutLibrary, HalfAPairIsNotEnough) {
  for (const TlsLibraryNames& names : DefaultTlsLibraryNames()) {
    SCOPED_TRACE(names.ssl);
    SetTlsLibraryNames({{names.ssl, "tarnwick-absent-crypto.so.9"}});
    TTCPBlockSocket socket;
    socket.SetTlsState(true);
    EXPECT_EQ(socket.LastSocketError, 10043);
    EXPECT_FALSE(TlsLibraryLoaded());
  }
}

TEST_F(TlsWithoutLibrary, ConnectWithTlsKeepsConnectionFreeOfTls) {
  test::LoopbackTcpListener server("127.0.0.1");
  TTCPBlockSocket socket;
  socket.StartTls();  // no connection yet, no library: fails cleanly
  EXPECT_EQ(socket.LastSocketError, 10043);
  socket.ConnectTo("127.0.0.1", server.PortText());
  EXPECT_EQ(socket.LastSocketError, 0) << "TLS was never on, so the plain connect stands";
  ASSERT_TRUE(server.Accept(2000));
  socket.StartTls();
  EXPECT_EQ(socket.LastSocketError, 10043);
  EXPECT_FALSE(socket.TlsOn);
  EXPECT_EQ(socket.SendText("plain"), 5);
  EXPECT_EQ(server.ReceiveSome(1000), "plain");
}

}  // namespace
}  // namespace tarnwick
