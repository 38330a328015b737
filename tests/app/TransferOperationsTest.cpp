// Every path of the receive and send operations against a scripted engine
// and scripted dialogs; the log block of each path is checked line by line.
#include "app/TransferOperations.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/TransferNames.h"

namespace tarnwick {
namespace {

using Lines = std::vector<std::string>;

// What the fake engine was asked and what it answers.
struct EngineScript {
  bool result = true;
  std::int32_t code = 0;
  std::string text;  // as the device sent it (CP932)
  bool failLoad = false;
  bool failSave = false;
  // Filled in by the engine:
  int created = 0;
  int alive = 0;
  Lines calls;
};

class FakeEngine : public ITransferEngine {
 public:
  explicit FakeEngine(EngineScript& s) : s_(s) {
    ++s_.created;
    ++s_.alive;
  }
  ~FakeEngine() override { --s_.alive; }
  void SetServerHost(const std::string& h) override { host_ = h; }
  std::string ServerHost() const override { return host_; }
  void SetServerPort(const std::string& p) override { port_ = p; }
  std::string ServerPort() const override { return port_; }
  bool GetFile(const std::string& n) override {
    s_.calls.push_back("get " + n);
    return s_.result;
  }
  bool PutFile(const std::string& n) override {
    s_.calls.push_back("put " + n);
    return s_.result;
  }
  void SaveContentToFile(const std::string& p) override {
    s_.calls.push_back("save " + p);
    if (s_.failSave) throw std::runtime_error("ファイル " + p + " を作成できません");
  }
  void LoadContentFromFile(const std::string& p) override {
    s_.calls.push_back("load " + p);
    if (s_.failLoad) throw std::runtime_error("ファイル " + p + " は開けません");
  }
  std::int32_t PeerErrorCode() const override { return s_.code; }
  std::string PeerErrorBytes() const override { return s_.text; }

 private:
  EngineScript& s_;
  std::string host_, port_;
};

struct Log : IWorkLog {
  Lines lines;
  void AddLine(const std::string& l) override { lines.push_back(l); }
};

struct Dialogs : ISaveFilePicker, IOpenFilePicker, ISendConfirmation {
  bool saveChosen = true, openChosen = true, confirmed = true;
  std::string path = "C:\\out\\config";
  Lines asked;
  bool PickSaveFile(const std::string& proposed, std::string& chosen) override {
    asked.push_back("save? " + proposed);
    if (saveChosen) chosen = path;
    return saveChosen;
  }
  bool PickOpenFile(std::string& chosen) override {
    asked.push_back("open?");
    if (openChosen) chosen = path;
    return openChosen;
  }
  bool ConfirmSend() override {
    asked.push_back("confirm?");
    return confirmed;
  }
};

TransferFields InitialFields() {
  TransferFields f;
  f.host = "127.0.0.1";
  f.port = "69";
  f.fileName = "config";
  f.delimiter = "/";
  return f;
}

class Operations : public testing::Test {
 protected:
  EngineFactory Factory() {
    return [this] { return std::unique_ptr<ITransferEngine>(new FakeEngine(script)); };
  }
  void Receive() { RunReceive(fields, Factory(), dialogs, log, &active); }
  void Send() { RunSend(fields, Factory(), dialogs, dialogs, log, &active); }

  TransferFields fields = InitialFields();
  EngineScript script;
  Dialogs dialogs;
  Log log;
  ITransferEngine* active = reinterpret_cast<ITransferEngine*>(&log);  // anything but null
};

// The log texts exactly as the user must read them, written out here rather
// than taken from the code's own constants, so a changed text fails.
namespace wl {
constexpr char kReceiveHeader[] = "--- 操作：ファイルの受信 ---";
constexpr char kSendHeader[] = "--- 操作：ファイルの送信 ---";
constexpr char kEngineCreated[] = "Tarnwick ソケットを生成しました";
constexpr char kHostLine[] = "接続先（IPアドレス）：";
constexpr char kPortLine[] = "接続先（ポート番号）：";
constexpr char kReceiving[] = "受信中...：";
constexpr char kReceiveRemoteName[] = "  ホスト上のファイル名：";
constexpr char kReceiveLocalName[] = "    →ローカルファイル名：";
constexpr char kReceiveDone[] = "受信が無事完了しました";
constexpr char kReceiveCancelled[] = "受信がキャンセルされました";
constexpr char kReceiveFailed[] = "受信中に何らかのエラーが発生しました";
constexpr char kSending[] = "送信中...：";
constexpr char kSendLocalName[] = "  ローカルファイル名：";
constexpr char kSendRemoteName[] = "    →ホスト上のファイル名：";
constexpr char kSendDone[] = "送信が無事完了しました";
constexpr char kSendFailed[] = "送信中に何らかのエラーが発生しました";
constexpr char kSendDeclined[] = "送信処理がキャンセルされました";
constexpr char kOpenCancelled[] = "処理がキャンセルされました";
constexpr char kEngineReleased[] = "Tarnwick ソケットを破棄しました";
}  // namespace wl

TEST_F(Operations, ReceiveSuccessWritesTheNineLinesAndTheEmptyLine) {
  Receive();
  EXPECT_EQ(log.lines, (Lines{wl::kReceiveHeader, wl::kEngineCreated, std::string(wl::kHostLine) + "127.0.0.1",
                              std::string(wl::kPortLine) + "69", wl::kReceiving,
                              std::string(wl::kReceiveRemoteName) + "config",
                              std::string(wl::kReceiveLocalName) + "C:\\out\\config", wl::kReceiveDone,
                              wl::kEngineReleased, ""}));
  EXPECT_EQ(script.calls, (Lines{"get config", "save C:\\out\\config"}));
  EXPECT_EQ(dialogs.asked, (Lines{"save? config"}));
  EXPECT_EQ(script.created, 1);
  EXPECT_EQ(script.alive, 0);
  EXPECT_EQ(active, nullptr);
}

TEST_F(Operations, ReceiveWithPasswordRequestsTheJoinedNameButProposesOnlyTheFileName) {
  fields.fileName = " config ";
  fields.password = "pw";
  Receive();
  EXPECT_EQ(script.calls.at(0), "get  config /pw");
  EXPECT_EQ(dialogs.asked, (Lines{"save?  config "}));
  EXPECT_EQ(log.lines.at(5), std::string(wl::kReceiveRemoteName) + " config ");
}

TEST_F(Operations, ReceiveShowsTheUnmaskedNameWhenMaskingIsOff) {
  fields.password = " pw ";
  fields.delimiter = " # ";
  fields.maskPassword = false;
  Receive();
  EXPECT_EQ(script.calls.at(0), "get config #  pw ");
  EXPECT_EQ(log.lines.at(5), std::string(wl::kReceiveRemoteName) + "config#pw");
}

TEST_F(Operations, ReceiveSaveCancelledLogsCancelAndWritesNothing) {
  dialogs.saveChosen = false;
  Receive();
  ASSERT_EQ(log.lines.size(), 9u);
  EXPECT_EQ(log.lines[5], std::string(wl::kReceiveRemoteName) + "config");
  EXPECT_EQ(log.lines[6], wl::kReceiveCancelled);
  EXPECT_EQ(log.lines[7], wl::kEngineReleased);
  EXPECT_EQ(log.lines[8], "");
  EXPECT_EQ(script.calls, (Lines{"get config"}));
  EXPECT_EQ(script.alive, 0);
}

TEST_F(Operations, FailureLogsCodeAndTextAndNeverShowsTheSaveDialog) {
  struct Row {
    std::int32_t code;
    std::string text;
    std::string line;
  };
  const Row rows[] = {
      {1, "File not found", "ホストから返ってきたエラーコード：1 - File not found"},
      {0, "", "ホストから返ってきたエラーコード：0 - "},
      {2, "\x83\x41\x83\x4e\x83\x5a\x83\x58\x88\xe1\x94\xbd",
       "ホストから返ってきたエラーコード：2 - アクセス違反"},
      {7, "two\r\nlines", "ホストから返ってきたエラーコード：7 - two  lines"},
      {65535, "x", "ホストから返ってきたエラーコード：65535 - x"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EngineScript s;
    s.result = false;
    s.code = row.code;
    s.text = row.text;
    script = s;
    log.lines.clear();
    dialogs.asked.clear();
    Receive();
    ASSERT_EQ(log.lines.size(), 10u);
    EXPECT_EQ(log.lines[6], wl::kReceiveFailed);
    EXPECT_EQ(log.lines[7], row.line);
    EXPECT_EQ(log.lines[8], wl::kEngineReleased);
    EXPECT_EQ(log.lines[9], "");
    EXPECT_TRUE(dialogs.asked.empty());
    EXPECT_EQ(script.alive, 0);
  }
}

// Masked, no echo of the password reaches the log, also behind a stray lead
// byte or as U+301C/U+2212 that come back as U+FF5E/U+FF0D. Clear: as sent.
TEST_F(Operations, DeviceEchoOfThePasswordIsScrubbedFromItsRawBytesWhileMasked) {
  const std::string wire = "Ab\x81\x60\x81|9";  // Ab～－9 in CP932
  script = {false, 1, "config/" + wire + " and \x81" + wire, false, false, 0, 0, {}};
  for (const auto& [password, masked, text] : std::vector<std::tuple<std::string, bool, std::string>>{
           {"Ab～－9", true, "config*** and \xEF\xBF\xBD***"},
           {"Ab～－9", false, "config/Ab～－9 and 、b～－9"},
#ifndef _WIN32  // the Windows code page refuses to send these
           {"Ab〜−9", true, "config*** and \xEF\xBF\xBD***"},
#endif
       }) {
    SCOPED_TRACE(password + (masked ? " masked" : " shown"));
    fields.password = password;
    fields.maskPassword = masked;
    for (const int receive : {1, 0}) {
      log.lines.clear();
      receive ? Receive() : Send();
      EXPECT_EQ(log.lines.at(8 - receive), "ホストから返ってきたエラーコード：1 - " + text);
    }
  }
}

TEST_F(Operations, ReceiveSaveErrorPropagatesAfterReleasingTheEngine) {
  script.failSave = true;
  EXPECT_THROW(Receive(), std::runtime_error);
  // Stopped at the save: no local-file, completion or closing lines.
  ASSERT_EQ(log.lines.size(), 6u);
  EXPECT_EQ(log.lines.back(), std::string(wl::kReceiveRemoteName) + "config");
  EXPECT_EQ(script.alive, 0);
  EXPECT_EQ(active, nullptr);
}

TEST_F(Operations, SendSuccessWritesTheFullBlock) {
  dialogs.path = "C:\\in\\config.txt";
  fields.fileName = "  config\t";
  fields.password = "pw";
  Send();
  EXPECT_EQ(log.lines, (Lines{wl::kSendHeader, wl::kEngineCreated, std::string(wl::kHostLine) + "127.0.0.1",
                              std::string(wl::kPortLine) + "69", wl::kSending,
                              std::string(wl::kSendLocalName) + "C:\\in\\config.txt",
                              std::string(wl::kSendRemoteName) + "config", wl::kSendDone, wl::kEngineReleased,
                              ""}));
  // Trimmed for the request; the password joined with the delimiter.
  EXPECT_EQ(script.calls, (Lines{"load C:\\in\\config.txt", "put config/pw"}));
  EXPECT_EQ(dialogs.asked, (Lines{"confirm?", "open?"}));
  EXPECT_EQ(script.alive, 0);
  EXPECT_EQ(active, nullptr);
}

TEST_F(Operations, ConfirmationIsAskedOnlyWhileTheSkipBoxIsClear) {
  for (bool skip : {false, true}) {
    SCOPED_TRACE(skip);
    fields.skipConfirm = skip;
    dialogs.asked.clear();
    Send();
    EXPECT_EQ(dialogs.asked.front() == "confirm?", !skip);
  }
  EXPECT_TRUE(ConfirmationDue(false));
  EXPECT_FALSE(ConfirmationDue(true));
}

TEST_F(Operations, DeclinedConfirmationWritesExactlyTwoLinesAndCreatesNoEngine) {
  dialogs.confirmed = false;
  Send();
  EXPECT_EQ(log.lines, (Lines{wl::kSendHeader, wl::kSendDeclined}));
  EXPECT_EQ(dialogs.asked, (Lines{"confirm?"}));
  EXPECT_EQ(script.created, 0);
}

TEST_F(Operations, CancelledOpenDialogWritesThreeLinesAndCreatesNoEngine) {
  dialogs.openChosen = false;
  Send();
  EXPECT_EQ(log.lines, (Lines{wl::kSendHeader, wl::kOpenCancelled, ""}));
  EXPECT_EQ(script.created, 0);
}

TEST_F(Operations, SendFailureLogsTheErrorLineAndClosesTheBlock) {
  script.result = false;
  script.code = 0;
  Send();
  ASSERT_EQ(log.lines.size(), 11u);
  EXPECT_EQ(log.lines[7], wl::kSendFailed);
  EXPECT_EQ(log.lines[8], "ホストから返ってきたエラーコード：0 - ");
  EXPECT_EQ(log.lines[9], wl::kEngineReleased);
  EXPECT_EQ(log.lines[10], "");
}

TEST_F(Operations, LoadFailureStopsAfterTheHostFileLineAndPropagates) {
  script.failLoad = true;
  fields.maskPassword = false;
  fields.password = "";
  try {
    Send();
    FAIL() << "the load error must reach the caller";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("は開けません"), std::string::npos);
  }
  ASSERT_EQ(log.lines.size(), 7u);
  EXPECT_EQ(log.lines.back(), std::string(wl::kSendRemoteName) + "config/");
  EXPECT_EQ(script.calls, (Lines{"load C:\\out\\config"}));
  EXPECT_EQ(script.alive, 0);
  EXPECT_EQ(active, nullptr);
}

TEST_F(Operations, EveryOperationUsesAFreshEngine) {
  Receive();
  Send();
  Receive();
  EXPECT_EQ(script.created, 3);
  EXPECT_EQ(script.alive, 0);
}

TEST_F(Operations, ActiveSlotPointsAtTheEngineDuringTheTransfer) {
  // The engine checks the window's slot while its transfer runs.
  struct SlotProbe : FakeEngine {
    SlotProbe(EngineScript& s, ITransferEngine** slot, bool& saw) : FakeEngine(s), slot_(slot), saw_(saw) {}
    bool GetFile(const std::string& n) override {
      saw_ = (*slot_ == this);
      return FakeEngine::GetFile(n);
    }
    ITransferEngine** slot_;
    bool& saw_;
  };
  bool saw = false;
  EngineFactory make = [&] { return std::unique_ptr<ITransferEngine>(new SlotProbe(script, &active, saw)); };
  RunReceive(fields, make, dialogs, log, &active);
  EXPECT_TRUE(saw);
  EXPECT_EQ(active, nullptr);
  EXPECT_EQ(script.alive, 0);
}

}  // namespace
}  // namespace tarnwick
