// tarnwick-cli end to end in process: exit codes, the work-log lines, the
// local files it leaves (and never leaves) behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "../support/RequiredPeer.h"
#include "../tftp/ScriptedPeer.h"
#include "../tftp/TftpdServer.h"
#include "cli/CliTransfer.h"
#include "cliutil/LocalFiles.h"

namespace tarnwick::cli {
namespace {

using testing_support::Data;
using testing_support::Error;
using testing_support::Pattern;
using testing_support::ScriptedPeer;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every case runs on both engines: the work-log lines, exit statuses and
// files left behind are the same.
class CliTransferTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');  // "Case/streaming"
    folder_ = ::testing::TempDir() + "tarnwick-cli-" + name;
  }
  bool Streaming() const { return std::string(GetParam()) == "streaming"; }
  void TearDown() override {
    for (const std::string& path : made_) std::remove(path.c_str());
  }
  // A local path for this test, removed again when the test ends.
  std::string Local(const std::string& name) {
    made_.push_back(folder_ + "-" + name);
    return made_.back();
  }

  // Runs the command line with a scripted server answering on another thread.
  int Run(std::vector<std::string> args, const std::function<void(ScriptedPeer&)>& script) {
    args.push_back("--engine");
    args.push_back(GetParam());
    std::thread server([&] { script(peer_); });
    out_.str("");
    int code = RunMain(args, out_, log_);
    server.join();
    return code;
  }
  std::string Port() const { return std::to_string(peer_.Port()); }

  ScriptedPeer peer_;
  std::ostringstream out_, log_;
  std::string folder_;
  std::vector<std::string> made_;
};

TEST_P(CliTransferTest, SuccessfulGetWritesTheFileAndTheWindowsLines) {
  const std::string target = Local("ok.bin");
  std::remove(target.c_str());
  const std::string file = Pattern(700);
  int code =
      Run({"get", "127.0.0.1", "config", target, "--port", Port(), "--password", "pw"}, [&](ScriptedPeer& p) {
        auto rrq = p.Receive();
        EXPECT_EQ(rrq.value_or(""), std::string("\0\1config/pw\0octet\0", 18));
        p.Reply(Data(1, file.substr(0, 512)));
        p.Receive();
        p.Reply(Data(2, file.substr(512)));
        p.Receive();
      });
  EXPECT_EQ(code, kExitDone);
  EXPECT_EQ(ReadFile(target), file);
  const std::vector<std::string> expected = {
      "--- 操作：ファイルの受信 ---",
      "Tarnwick ソケットを生成しました",
      "接続先（IPアドレス）：127.0.0.1",
      "接続先（ポート番号）：" + Port(),
      "受信中...：",
      "  ホスト上のファイル名：config",  // the password never shows
      "    →ローカルファイル名：" + AbsolutePath(target),
      "受信が無事完了しました",
      "Tarnwick ソケットを破棄しました",
      "",
  };
  EXPECT_EQ(Lines(log_.str()), expected);
}

TEST_P(CliTransferTest, FailedGetLeavesNoFileAndKeepsAnOldOne) {
  const std::string fresh = Local("fresh.bin");
  const std::string existing = Local("existing.bin");
  std::remove(fresh.c_str());
  { std::ofstream(existing, std::ios::binary) << "old"; }
  for (const std::string& target : {fresh, existing}) {
    SCOPED_TRACE(target);
    log_.str("");
    int code = Run({"get", "127.0.0.1", "fw.bin", target, "--port", Port()}, [&](ScriptedPeer& p) {
      p.Receive();
      p.Reply(Data(1, Pattern(512)));  // one full block arrives ...
      p.Receive();
      p.Reply(Error(2, std::string("Access\r\nviolation\0", 18)));  // ... then the device gives up
    });
    EXPECT_EQ(code, kExitTransferFailed);
    std::vector<std::string> lines = Lines(log_.str());
    // The streaming engine adds its reason, cause first, after the window's lines.
    const std::size_t extra = Streaming() ? 1 : 0;
    ASSERT_EQ(lines.size(), 10u + extra);
    EXPECT_EQ(lines[6], "受信中に何らかのエラーが発生しました");
    EXPECT_EQ(lines[7], "ホストから返ってきたエラーコード：2 - Access  violation");
    if (Streaming()) {
      EXPECT_EQ(lines[8].rfind("tarnwick-cli: ", 0), 0u) << lines[8];
    }
    EXPECT_EQ(lines[8 + extra], "Tarnwick ソケットを破棄しました");
  }
  EXPECT_FALSE(FileExists(fresh));
  EXPECT_EQ(ReadFile(existing), "old");
}

TEST_P(CliTransferTest, SilentServerLogsCodeZeroAndAnEmptyText) {
  std::vector<std::string> args = {"get",       "127.0.0.1", "config", Local("silent.bin"), "--port", Port(),
                                   "--timeout", "200",       "--quiet"};
  if (Streaming()) args.insert(args.end(), {"--retries", "1"});
  int requests = 0;
  int code = Run(args, [&](ScriptedPeer& p) {
    while (p.Receive(Streaming() ? 1500 : 500)) ++requests;
  });
  EXPECT_EQ(code, kExitTransferFailed);
  // The window's engine asks once; the streaming one retransmits once (--retries 1).
  EXPECT_EQ(requests, Streaming() ? 2 : 1);
  // Quiet: only the failure lines (and the streaming engine's reason).
  std::vector<std::string> expected = {"受信中に何らかのエラーが発生しました",
                                       "ホストから返ってきたエラーコード：0 - "};
  std::vector<std::string> lines = Lines(log_.str());
  if (Streaming()) {
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[2].find("127.0.0.1:" + Port()), std::string::npos) << lines[2];
    lines.pop_back();
  }
  EXPECT_EQ(lines, expected);
  EXPECT_FALSE(FileExists(Local("silent.bin")));
}

TEST_P(CliTransferTest, DeviceTextInCp932IsDecoded) {
  int code = Run({"get", "127.0.0.1", "config", Local("sjis.bin"), "--port", Port(), "--quiet"},
                 [&](ScriptedPeer& p) {
                   p.Receive();
                   p.Reply(Error(1, std::string("\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x82\xa0\x82\xe8\x82"
                                                "\xdc\x82\xb9\x82\xf1\xff\0")));
                 });
  EXPECT_EQ(code, kExitTransferFailed);
  EXPECT_EQ(Lines(log_.str()).at(1),
            "ホストから返ってきたエラーコード：1 - ファイルがありません\xEF\xBF\xBD");
}

TEST_P(CliTransferTest, JapaneseRemoteNameGoesOutAsCp932UnlessRaw) {
  std::string seen;
  auto script = [&](ScriptedPeer& p) {
    seen = p.Receive().value_or("");
    p.Reply(Data(1, "x"));
    p.Receive();
  };
  EXPECT_EQ(Run({"get", "127.0.0.1", "設定.txt", Local("jp.bin"), "--port", Port()}, script), kExitDone);
  EXPECT_EQ(seen, std::string("\0\1\x90\xdd\x92\xe8.txt\0octet\0", 17));
  EXPECT_EQ(Run({"get", "127.0.0.1", "設定.txt", Local("jp.bin"), "--port", Port(), "--raw-name"}, script),
            kExitDone);
  EXPECT_EQ(seen, std::string("\0\1設定.txt\0octet\0", 19));
}

TEST_P(CliTransferTest, NameOutsideCp932IsAUsageErrorBeforeAnyTraffic) {
  int code = Run({"get", "127.0.0.1", "\xF0\x9F\x98\x80.txt", Local("emoji.bin"), "--port", Port()},
                 [&](ScriptedPeer& p) { EXPECT_FALSE(p.Receive(300).has_value()); });
  EXPECT_EQ(code, kExitUsageOrLocalFile);
}

TEST_P(CliTransferTest, PutSendsTheTrimmedNameAndLogsTheBlock) {
  const std::string source = Local("source.bin");
  { std::ofstream(source, std::ios::binary) << "hello"; }
  std::string request, data;
  int code = Run({"put", "127.0.0.1", source, "  fw.bin ", "--port", Port()}, [&](ScriptedPeer& p) {
    request = p.Receive().value_or("");
    p.Reply(testing_support::Ack(0));
    data = p.Receive().value_or("");
    p.Reply(testing_support::Ack(1));
  });
  EXPECT_EQ(code, kExitDone);
  EXPECT_EQ(request, std::string("\0\2fw.bin\0octet\0", 15));
  EXPECT_EQ(data, Data(1, "hello"));
  const std::vector<std::string> expected = {
      "--- 操作：ファイルの送信 ---",
      "Tarnwick ソケットを生成しました",
      "接続先（IPアドレス）：127.0.0.1",
      "接続先（ポート番号）：" + Port(),
      "送信中...：",
      "  ローカルファイル名：" + AbsolutePath(source),
      "    →ホスト上のファイル名：fw.bin",
      "送信が無事完了しました",
      "Tarnwick ソケットを破棄しました",
      "",
  };
  EXPECT_EQ(Lines(log_.str()), expected);
}

TEST_P(CliTransferTest, LocalFileProblemsExitWithTwo) {
  int code = Run({"put", "127.0.0.1", Local("missing.bin"), "--port", Port()},
                 [&](ScriptedPeer& p) { EXPECT_FALSE(p.Receive(300).has_value()); });
  EXPECT_EQ(code, kExitUsageOrLocalFile);
  EXPECT_NE(log_.str().find("cannot read " + Local("missing.bin") + ": "), std::string::npos) << log_.str();

  log_.str("");
  const std::string unwritable = Local("no-such-folder") + "/x.bin";
  code = Run({"get", "127.0.0.1", "config", unwritable, "--port", Port()},
             [&](ScriptedPeer& p) { EXPECT_FALSE(p.Receive(300).has_value()); });
  EXPECT_EQ(code, kExitUsageOrLocalFile);
  // The system's words follow, one line.
  const std::string said = log_.str();
  EXPECT_EQ(said.rfind("tarnwick-cli: cannot create a temporary file beside " + unwritable + ": ", 0), 0u)
      << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);

  code = Run({"get", "127.0.0.1"}, [](ScriptedPeer&) {});
  EXPECT_EQ(code, kExitUsageOrLocalFile);
}

// in.tftpd is a Linux program: the Windows build has no such peer to ask.
#ifndef _WIN32
TEST_P(CliTransferTest, GetAndPutThroughARealServer) {
  testing_support::TftpdServer server;
  if (!server.Unavailable().empty()) TARNWICK_MISSING_PEER(server.Unavailable());
  const std::string file = Pattern(1537, 9);
  server.WriteFile("cfg.txt", file);
  const std::string local = ::testing::TempDir() + "tarnwick-cli-tftpd.bin";
  std::ostringstream out, log;
  const std::string port = std::to_string(server.Port());
  EXPECT_EQ(RunMain({"get", "127.0.0.1", "cfg.txt", local, "--port", port, "--engine", GetParam()}, out, log),
            kExitDone);
  EXPECT_EQ(ReadFile(local), file);
  EXPECT_EQ(
      RunMain({"put", "127.0.0.1", local, "back.txt", "--port", port, "--engine", GetParam()}, out, log),
      kExitDone);
  EXPECT_EQ(server.ReadFile("back.txt"), file);
  EXPECT_EQ(
      RunMain({"get", "127.0.0.1", "absent.txt", local + ".absent", "--port", port, "--engine", GetParam()},
              out, log),
      kExitTransferFailed);
  EXPECT_FALSE(FileExists(local + ".absent"));
  std::remove(local.c_str());
}
#endif

INSTANTIATE_TEST_SUITE_P(Engines, CliTransferTest, ::testing::Values("window", "streaming"),
                         [](const ::testing::TestParamInfo<const char*>& engine) {
                           return std::string(engine.param);
                         });

}  // namespace
}  // namespace tarnwick::cli
