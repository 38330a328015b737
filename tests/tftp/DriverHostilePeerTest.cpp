// Badly behaved servers over real loopback sockets, one scripted answer per
// row: the driver and the state machine together must end each transfer
// with a clean failure that names the cause, tell the server why when it is
// the server's fault, and never report success.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "ClientTransferHarness.h"
#include "ScriptedPeer.h"
#include "tftp/TransferDriver.h"

namespace tarnwick::testing_support {
namespace {

struct HostileRow {
  const char* what;
  std::optional<std::uint32_t> blockSize;  // asked for in the request
  // The server's answers from a new port: the first to the request, each
  // further one after the client's next datagram.
  std::vector<std::string> answers;
  const char* reasonHas;
  int peerErrorCode;          // -1: the failure is not the device's ERROR
  std::uint16_t errorWeSend;  // 0: the client owes the server no ERROR
};

std::vector<HostileRow> Rows() {
  const std::string cut = Word(6) + "blksize" + std::string(1, '\0') + "10";
  return {
      {"DATA longer than the block size",
       std::nullopt,
       {DataPacket(1, std::string(513, 'x'))},
       "more than the agreed 512",
       -1,
       4},
      {"DATA longer than the agreed size",
       1024u,
       {OackPacket({{"blksize", "1024"}}), DataPacket(1, std::string(1025, 'y'))},
       "more than the agreed 1024",
       -1,
       4},
      {"OACK names an option never asked",
       1024u,
       {OackPacket({{"blksize", "1024"}, {"rollover", "0"}})},
       "\"rollover\", which was not asked for",
       -1,
       8},
      {"OACK raises the block size", 1024u, {OackPacket({{"blksize", "2048"}})}, "blksize \"2048\"", -1, 8},
      {"OACK without options asked",
       std::nullopt,
       {OackPacket({{"blksize", "512"}})},
       "OACK to a request",
       -1,
       8},
      {"OACK cut inside a value", 1024u, {cut}, "without its zero byte", -1, 8},
      {"ERROR with text", std::nullopt, {ErrorPacket(1, "File not found")}, "ERROR 1: File not found", 1, 0},
      {"ERROR without its zero byte",
       std::nullopt,
       {Word(5) + Word(2) + "Access violation"},
       "ERROR 2: Access violation",
       2,
       0},
      {"ERROR with no text at all", std::nullopt, {Word(5) + Word(0)}, "ERROR 0", 0, 0},
      {"a two-byte datagram", std::nullopt, {Word(3)}, "no valid answer", -1, 0},
      {"an unknown opcode", std::nullopt, {Word(9) + Word(1)}, "no valid answer", -1, 0},
      {"ACK to a read request", std::nullopt, {AckPacket(0)}, "1 datagram that was no valid answer", -1, 0},
  };
}

TEST(TransferDriver, HostileServersFailCleanlyWithTheirCause) {
  for (const HostileRow& row : Rows()) {
    SCOPED_TRACE(row.what);
    ScriptedPeer listener, transferPeer;
    std::string told;  // the client's last word to the server's new port
    std::thread server([&] {
      if (!listener.Receive()) return;
      transferPeer.SendTo(listener.LastSenderPort(), row.answers.front());
      for (std::size_t i = 1; i < row.answers.size(); ++i) {
        if (!transferPeer.Receive()) return;
        transferPeer.Reply(row.answers[i]);
      }
      told = transferPeer.Receive(1000).value_or("");
    });
    TransferRequest request;
    request.remoteName = "config";
    request.blockSize = row.blockSize;
    request.wait = std::chrono::milliseconds(300);
    request.retries = 1;
    MemorySink sink;
    ClientTransfer transfer(request, tftp::ResolveServer("127.0.0.1", std::to_string(listener.Port())), &sink,
                            nullptr);
    tftp::TransferDriver driver;
    driver.Add(transfer);
    driver.Run();
    server.join();
    const tftp::TransferOutcome& out = transfer.Outcome();
    EXPECT_EQ(out.state, TransferState::Failed);
    EXPECT_NE(out.reason.find(row.reasonHas), std::string::npos) << out.reason;
    EXPECT_EQ(out.peerErrorCode, row.peerErrorCode);
    EXPECT_EQ(sink.data, "") << "nothing of a broken transfer is stored";
    if (row.errorWeSend != 0) {
      EXPECT_EQ(Op(told), 5) << "the server is told why";
      EXPECT_EQ(Num(told), row.errorWeSend);
    } else {
      EXPECT_EQ(told, "") << "a server that ended the transfer itself hears nothing more";
    }
  }
}

}  // namespace
}  // namespace tarnwick::testing_support
