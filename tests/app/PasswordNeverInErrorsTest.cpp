// A remote name CP932 cannot carry stops the operation with an error whose
// message reaches the crash dialog, its log file and its mail: it names the
// file-name part and never the password. Runs the real CP932 conversion and
// the real engine (the refusal comes before anything is sent).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/TftpTransferEngine.h"
#include "app/TransferNames.h"
#include "app/TransferOperations.h"
#include "app/WorkLogText.h"
#include "base/MemoryStream.h"

namespace tarnwick {
namespace {

using Lines = std::vector<std::string>;

struct Log : IWorkLog {
  Lines lines;
  void AddLine(const std::string& l) override { lines.push_back(l); }
};

// Every dialog goes on, so only the name can stop an operation.
struct Dialogs : ISaveFilePicker, IOpenFilePicker, ISendConfirmation {
  std::string path;
  bool PickSaveFile(const std::string&, std::string& chosen) override {
    chosen = path;
    return true;
  }
  bool PickOpenFile(std::string& chosen) override {
    chosen = path;
    return true;
  }
  bool ConfirmSend() override { return true; }
};

// Characters CP932 lacks: é, ü, € and one outside the BMP.
struct Row {
  const char* fileName;
  const char* delimiter;
  const char* password;
  const char* blamed;  // the file-name part the message must name
};
const Row kRows[] = {
    {"config", "/", "sécret", "config"},              // é in the password
    {"config", "/", "über-geheim", "config"},         // ü in the password
    {"config", "/", "pw€42", "config"},               // € in the password
    {"config", "/", "pw\xF0\x9F\x94\x91", "config"},  // outside the BMP
    {"café.cfg", "/", "hunter2", "café.cfg"},         // é in the file name
    {"  rüter ", "#", "topsecret", nullptr},          // ü in the name, blanks kept or trimmed
    {"config", "€", "hunter2", "config"},             // € as the delimiter
    {"設定", "/", "kéy", "設定"},                     // the name itself is fine
};

NameFields Names(const Row& row) { return NameFields{row.fileName, row.password, row.delimiter, true}; }

void ExpectNamesOnlyTheFileName(const std::string& message, const Row& row, TransferDirection direction) {
  EXPECT_EQ(message.find(row.password), std::string::npos) << message;
  const std::string base = BaseFileName(direction, row.fileName);
  if (row.blamed != nullptr) {
    EXPECT_EQ(base, row.blamed);
  }
  EXPECT_NE(message.find("ファイル名 " + base + " "), std::string::npos) << message;
}

TEST(RemoteNameCp932, ConvertsWhatCp932Carries) {
  const NameFields plain{"config", "pw", "/", true};
  EXPECT_EQ(RemoteNameCp932(TransferDirection::Receive, plain), "config/pw");
  const NameFields japanese{" 設定 ", "ｱ", "/", true};
  EXPECT_EQ(RemoteNameCp932(TransferDirection::Receive, japanese), " \x90\xdd\x92\xe8 /\xb1");
  EXPECT_EQ(RemoteNameCp932(TransferDirection::Send, japanese), "\x90\xdd\x92\xe8/\xb1");
  const NameFields empty{"", "", "/", true};
  EXPECT_EQ(RemoteNameCp932(TransferDirection::Send, empty), "");
}

TEST(RemoteNameCp932, RefusalNamesTheFileNamePartAndNeverThePassword) {
  for (const Row& row : kRows) {
    for (TransferDirection direction : {TransferDirection::Receive, TransferDirection::Send}) {
      SCOPED_TRACE(std::string(row.fileName) + " | " + row.password);
      try {
        RemoteNameCp932(direction, Names(row));
        FAIL() << "a name CP932 cannot carry must not be sent";
      } catch (const EConvertError& e) {
        EXPECT_EQ(e.ClassName(), "EConvertError");
        ExpectNamesOnlyTheFileName(e.Message(), row, direction);
      }
    }
  }
}

TEST(RemoteNameCp932, InvalidUtf8IsRefusedWithoutThePassword) {
  // Possible from the command line, which takes its arguments as bytes.
  const NameFields names{"config", "pw\xC3", "/", true};
  try {
    RemoteNameCp932(TransferDirection::Receive, names);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message().find("pw"), std::string::npos) << e.Message();
  }
}

class RealEngineOperations : public testing::Test {
 protected:
  TransferFields Fields(const Row& row) {
    TransferFields f;
    f.host = "127.0.0.1";
    f.port = "9";  // never reached: the name is refused first
    f.fileName = row.fileName;
    f.password = row.password;
    f.delimiter = row.delimiter;
    return f;
  }
  // Runs the operation, which must fail; returns the message of its error.
  template <typename Run>
  std::string FailingMessage(Run run) {
    try {
      run();
    } catch (const Exception& e) {
      EXPECT_EQ(e.ClassName(), "EConvertError");
      return e.Message();
    }
    ADD_FAILURE() << "the operation went on with a name CP932 cannot carry";
    return {};
  }
  void ExpectNoPasswordInLog(const Row& row) {
    for (const std::string& line : log.lines) EXPECT_EQ(line.find(row.password), std::string::npos) << line;
  }

  Log log;
  Dialogs dialogs;
  ITransferEngine* active = nullptr;
};

TEST_F(RealEngineOperations, ReceiveErrorNeverCarriesThePassword) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(std::string(row.fileName) + " | " + row.password);
    log.lines.clear();
    std::string message =
        FailingMessage([&] { RunReceive(Fields(row), TftpEngineFactory(), dialogs, log, &active); });
    ExpectNamesOnlyTheFileName(message, row, TransferDirection::Receive);
    ExpectNoPasswordInLog(row);
    // Stopped where the request would go out, after the host-file line.
    ASSERT_EQ(log.lines.size(), 6u);
    EXPECT_EQ(log.lines.back().rfind(worklog::kReceiveRemoteName, 0), 0u);
    EXPECT_EQ(active, nullptr);
  }
}

TEST_F(RealEngineOperations, SendErrorNeverCarriesThePassword) {
  // An empty local file, so the load succeeds and the name is what stops.
  dialogs.path = testing::TempDir() + "tarnwick-empty-send.bin";
  TMemoryStream().SaveToFile(dialogs.path);
  for (const Row& row : kRows) {
    SCOPED_TRACE(std::string(row.fileName) + " | " + row.password);
    log.lines.clear();
    std::string message =
        FailingMessage([&] { RunSend(Fields(row), TftpEngineFactory(), dialogs, dialogs, log, &active); });
    ExpectNamesOnlyTheFileName(message, row, TransferDirection::Send);
    ExpectNoPasswordInLog(row);
    ASSERT_EQ(log.lines.size(), 7u);
    EXPECT_EQ(log.lines.back().rfind(worklog::kSendRemoteName, 0), 0u);
    EXPECT_EQ(active, nullptr);
  }
}

}  // namespace
}  // namespace tarnwick
