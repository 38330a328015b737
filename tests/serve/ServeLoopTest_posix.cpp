// The server's loop on loopback: a get and a put run at once with a hostile
// client beside them that floods duplicate requests, asks for a name outside
// ROOT and sends junk. The honest transfers end intact, the hostile one is
// one transfer that sends at most two datagrams, and nothing outside ROOT is
// touched; an upload short of its announced size, or whose name is taken
// while it runs, is never published.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "../tftp/ClientTransferHarness.h"
#include "../tftp/ScriptedPeer.h"
#include "ServeTestTree.h"
#include "serve/ServeLoop.h"
#include "tftp/TransferDriver.h"

namespace tarnwick::serve {
namespace {

using testing_support::MemorySink;
using testing_support::MemorySource;
using testing_support::ScriptedPeer;

std::string Request(std::uint16_t opcode, const std::string& name) {
  return std::string{0, static_cast<char>(opcode)} + name + '\0' + "octet" + '\0';
}

class ServeLoopPorts : public ::testing::TestWithParam<bool> {};

TEST_P(ServeLoopPorts, TwoTransfersRunBesideAHostileClient) {
  ScratchTree tree;
  const std::string image = testing_support::Pattern(300000, 5);
  ScratchTree::Write(tree.Root() + "/a.bin", image);
  ScratchTree::Write(tree.Outside() + "/secret", "secret");

  std::vector<std::string> notes;
  std::string error;
  std::vector<ServeListener> listeners =
      BindListeners(ListenPlan{{ListenSocket{"127.0.0.1", 0, false, true, -1}}, ""}, notes, error);
  ASSERT_EQ(listeners.size(), 1u) << error;
  const SocketAddress server = listeners[0].local;
  std::unique_ptr<RootTree> root = RootTree::Open(tree.Root(), error);
  ASSERT_TRUE(root) << error;
  ServeLoopSettings settings;
  settings.upload.enabled = true;
  settings.singlePort = GetParam();
  settings.wait = std::chrono::milliseconds(100);
  settings.drain = std::chrono::milliseconds(300);
  std::mutex lock;
  std::vector<TransferRecord> records;
  ServeLoop loop(settings, std::move(listeners), root.get(), root->Root(), [&](const TransferRecord& r) {
    std::lock_guard<std::mutex> guard(lock);
    records.push_back(r);
  });
  std::atomic<bool> stop{false};
  std::thread serving([&] { loop.Run([&] { return stop.load(); }); });

  ScriptedPeer hostile, prober;
  const std::uint16_t port =
      static_cast<std::uint16_t>(reinterpret_cast<const std::uint8_t*>(&server.port)[0] << 8 |
                                 reinterpret_cast<const std::uint8_t*>(&server.port)[1]);
  for (int i = 0; i < 5; ++i) hostile.SendTo(port, Request(1, "a.bin"));
  prober.SendTo(port, Request(1, "../outside/secret"));
  hostile.SendTo(port, std::string(1, '\1'));

  tftp::TransferRequest get;
  get.remoteName = "a.bin";
  get.blockSize = 1428;
  get.windowSize = 8;
  tftp::TransferRequest put;
  put.kind = tftp::TransferKind::Put;
  put.remoteName = "c.bin";
  MemorySink got;
  MemorySource sent(image.substr(0, 70000));
  tftp::ClientTransfer getting(get, server, &got, nullptr);
  tftp::ClientTransfer putting(put, server, nullptr, &sent);
  tftp::TransferDriver driver;
  driver.Add(getting);
  driver.Add(putting);
  driver.HandOffLingers();
  driver.Run();
  EXPECT_EQ(getting.Outcome().state, tftp::TransferState::Succeeded) << getting.Outcome().reason;
  EXPECT_EQ(putting.Outcome().state, tftp::TransferState::Succeeded) << putting.Outcome().reason;
  EXPECT_EQ(got.data, image);
  EXPECT_EQ(ScratchTree::Read(tree.Root() + "/c.bin"), sent.data);

  // What the hostile clients heard: at most two DATA for five requests, and
  // an ERROR 2 for the name outside ROOT.
  int data = 0;
  while (std::optional<std::string> answer = hostile.Receive(700)) data += (*answer)[1] == 3;
  EXPECT_GE(data, 1);
  EXPECT_LE(data, 2);
  const std::optional<std::string> refusal = prober.Receive(700);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(refusal->substr(0, 4), std::string({0, 5, 0, 2}));
  // An upload that ends short of the size it announced is never published.
  prober.SendTo(port, Request(2, "short.bin") + "tsize" + '\0' + "10" + '\0');
  const std::optional<std::string> oack = prober.Receive(3000);
  ASSERT_TRUE(oack.has_value());
  EXPECT_EQ((*oack)[1], 6);
  prober.Reply(testing_support::Data(1, "abc"));
  const std::optional<std::string> stopped = prober.Receive(3000);
  ASSERT_TRUE(stopped.has_value());
  EXPECT_EQ((*stopped)[1], 5);
  EXPECT_FALSE(std::filesystem::exists(tree.Root() + "/short.bin"));
  // An upload whose name is taken while it runs is not published (that
  // waits off the loop): the client hears ERROR 6, not the final ACK.
  ScriptedPeer late;
  late.SendTo(port, Request(2, "late.bin"));
  const std::optional<std::string> ack0 = late.Receive(3000);
  ASSERT_TRUE(ack0.has_value());
  EXPECT_EQ(*ack0, std::string({0, 4, 0, 0}));
  ScratchTree::Write(tree.Root() + "/late.bin", "there first");
  late.Reply(testing_support::Data(1, "abc"));
  const std::optional<std::string> taken = late.Receive(3000);
  ASSERT_TRUE(taken.has_value());
  EXPECT_EQ(taken->substr(0, 4), std::string({0, 5, 0, 6}));
  EXPECT_EQ(ScratchTree::Read(tree.Root() + "/late.bin"), "there first");
  stop = true;
  serving.join();
  EXPECT_EQ(loop.Running(), 0u);
  EXPECT_EQ(ScratchTree::Read(tree.Outside() + "/secret"), "secret");

  int hostileReads = 0, refused = 0, done = 0;
  for (const TransferRecord& r : records) {
    if (r.result == "done") ++done;
    if (r.result == "refused") ++refused;
    if (r.client == "127.0.0.1:" + std::to_string(hostile.Port()) && r.file == "a.bin") ++hostileReads;
  }
  EXPECT_EQ(done, 2);
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(records.size(), 6u);  // and the short and the late upload, failed
  EXPECT_EQ(hostileReads, 1);     // the duplicates were never second transfers
}

// A port per transfer, and every transfer on the listening port.
INSTANTIATE_TEST_SUITE_P(ServeLoop, ServeLoopPorts, ::testing::Values(false, true));

}  // namespace
}  // namespace tarnwick::serve
