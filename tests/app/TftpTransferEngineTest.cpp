// The text conversions between the window (UTF-8) and the device (CP932).
#include <gtest/gtest.h>

#include "app/TftpTransferEngine.h"
#include "app/TransferNames.h"

namespace tarnwick {
namespace {

// The request's name comes from the shared name rules in CP932.
std::string Bytes(const char* name) {
  return RemoteNameCp932(TransferDirection::Receive, NameFields{name, "", "/", true});
}

TEST(RemoteNameBytes, ConvertsToCp932AndRefusesWhatItCannotCarry) {
  EXPECT_EQ(Bytes("config/pw"), "config/pw");
  EXPECT_EQ(Bytes(""), "");
  // 設定 in CP932.
  EXPECT_EQ(Bytes("設定"), "\x90\xdd\x92\xe8");
  // Half-width katakana are single bytes in CP932.
  EXPECT_EQ(Bytes("ｱ"), "\xb1");
  for (const char* bad : {"\xF0\x9F\x98\x80", "a\xC3", "\xED\xA0\x80"}) {
    SCOPED_TRACE(bad);
    try {
      Bytes(bad);
      FAIL() << "must not send a name CP932 cannot carry";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.ClassName(), "EConvertError");
    }
  }
}

TEST(TftpTransferEngine, DeviceTextComesBackAsSent) {  // the operations decode it, once scrubbed
  TftpTransferEngine engine;
  engine.Engine().PeerErrorText = "\x83\x74\x83\x40\x83\x43\x83\x8b";  // ファイル
  EXPECT_EQ(engine.PeerErrorBytes(), "\x83\x74\x83\x40\x83\x43\x83\x8b");
  engine.Engine().PeerErrorText = "ok \x81";  // a lead byte with nothing after it
  EXPECT_EQ(engine.PeerErrorBytes(), "ok \x81");
  engine.Engine().PeerErrorCode = 2;
  EXPECT_EQ(engine.PeerErrorCode(), 2);
}

TEST(TftpTransferEngine, HostAndPortPassThroughAsTyped) {
  TftpTransferEngine engine;
  engine.SetServerHost(" 192.0.2.1 ");
  engine.SetServerPort("069");
  EXPECT_EQ(engine.ServerHost(), " 192.0.2.1 ");
  EXPECT_EQ(engine.ServerPort(), "069");
  EXPECT_EQ(engine.Engine().ServerHost, " 192.0.2.1 ");
}

}  // namespace
}  // namespace tarnwick
