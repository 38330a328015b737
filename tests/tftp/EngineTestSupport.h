// Shared set-up of the engine tests: the socket layer is started once for
// the test program, and a fixture pairs an engine with a scripted peer.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "ScriptedPeer.h"
#include "tftp/TFTPSend.h"

namespace tarnwick::testing_support {

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine.ServerHost = "127.0.0.1";
    engine.ServerPort = std::to_string(peer.Port());
    engine.ReplyTimeout = 3000;
  }

  // Runs transfer on this thread while script plays the server on another.
  bool Run(const std::function<bool()>& transfer, const std::function<void(ScriptedPeer&)>& script) {
    std::thread server([&] { script(peer); });
    bool result = transfer();
    server.join();
    return result;
  }
  bool Get(const std::function<void(ScriptedPeer&)>& script, const std::string& name = "config") {
    return Run([&] { return engine.GetFile(name); }, script);
  }
  bool Put(const std::function<void(ScriptedPeer&)>& script, const std::string& name = "config") {
    return Run([&] { return engine.PutFile(name); }, script);
  }
  std::string ContentBytes() {
    return std::string(engine.Content.Memory() ? engine.Content.Memory() : "",
                       static_cast<std::size_t>(engine.Content.Size()));
  }
  void SetContent(const std::string& bytes) {
    engine.Content.Clear();
    engine.Content.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  }

  ScriptedPeer peer;
  TTFTPSend engine;
};

// Receives one datagram and records a test failure when none comes.
inline std::string Expect(ScriptedPeer& peer, int timeoutMs = 3000) {
  auto packet = peer.Receive(timeoutMs);
  if (!packet) ADD_FAILURE() << "peer: nothing arrived";
  return packet.value_or(std::string());
}

// Nothing more must arrive within a short wait.
inline void ExpectSilence(ScriptedPeer& peer, int waitMs = 300) {
  auto packet = peer.Receive(waitMs);
  if (packet) ADD_FAILURE() << "peer: unexpected datagram " << ::testing::PrintToString(*packet);
}

}  // namespace tarnwick::testing_support
