// Summary, JSON and CSV reports, password scrubbing and the descriptor
// arithmetic behind --jobs.
#include <gtest/gtest.h>

#include "fleet/Backup.h"
#include "fleet/BackupPlatform.h"
#include "fleet/BackupReport.h"

namespace tarnwick::fleet {
namespace {

std::vector<DeviceReport> SampleRows() {
  std::vector<DeviceReport> rows(5);
  rows[0] = {"core",
             "10.0.0.1:69",
             DeviceResult::Changed,
             2048,
             0.5,
             -1,
             "",
             "history/core/20261208T013000Z.cfg",
             "",
             false,
             0,
             false,
             ""};
  rows[1] = {"edge", "10.0.0.2:69", DeviceResult::Unchanged, 100, 0.25, -1, "", "", "", false, 0, false, ""};
  rows[2] = {"wan,1",
             "10.0.0.3:69",
             DeviceResult::Failed,
             0,
             1.0,
             2,
             "アクセス \"拒否\"\r\nx",
             "",
             "",
             false,
             0,
             false,
             ""};
  // U+202E shown raw would reverse the rest of the line.
  rows[3] = {
      "far\xe2\x80\xae"
      "evil",
      "10.0.0.4:69",
      DeviceResult::NotReached,
      0,
      0,
      -1,
      "",
      "",
      "",
      false,
      0,
      false,
      ""};
  // Never fetched: its last push, from an address as hostile as any text.
  rows[4].name = "branch", rows[4].result = DeviceResult::Pushed, rows[4].pushOnly = rows[4].pushes = true;
  rows[4].lastPush = 1796866200, rows[4].lastPushFrom = "192.0.2.5\r\n=1+1";  // 2026-12-10 01:30 UTC
  return rows;
}

TEST(BackupReport, SummaryHasOneLinePerDeviceAndTotals) {
  std::string text = SummaryText(SampleRows());
  EXPECT_NE(text.find("10.0.0.1:69  changed      2048        0.500     previous kept as history/core/"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("ERROR 2: アクセス \"拒否\"  x"), std::string::npos) << text;  // one line
  EXPECT_NE(text.find("far\\u202eevil  10.0.0.4:69  not reached"), std::string::npos) << text;
  EXPECT_NE(
      text.find("pushed       0           0.000     last push 2026-12-10 01:30 UTC from 192.0.2.5  =1+1\n"),
      std::string::npos);
  EXPECT_NE(text.find("5 devices: 1 changed, 1 unchanged, 1 failed, 1 not reached, 1 pushed\n"),
            std::string::npos)
      << text;
}

TEST(BackupReport, JsonEscapesAndCounts) {
  RunFacts run{"2026-12-08T01:30:00Z", "2026-12-08T01:31:00Z", {true, true, "0123abcd", ""}, "", {}, {}, {}};
  std::vector<DeviceReport> rows = SampleRows();
  rows[1].error = "bad \xff\xfe byte \xe3\x81";  // not UTF-8: the JSON must stay valid
  std::string json = JsonReport(rows, run);
  EXPECT_NE(json.find("\"totals\": {\"devices\": 5, \"changed\": 1, \"unchanged\": 1, \"failed\": 1, "
                      "\"interrupted\": 0, \"not_reached\": 1, \"pushed\": 1}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"error_code\": 2, \"error\": \"アクセス \\\"拒否\\\"\\u000d\\u000ax\""),
            std::string::npos)
      << json;
  EXPECT_NE(
      json.find("\"device\": \"far\\u202eevil\", \"host\": \"10.0.0.4:69\", \"result\": \"not reached\""),
      std::string::npos)
      << json;
  EXPECT_NE(json.find("\"error\": \"bad \\ufffd\\ufffd byte \\ufffd\\ufffd\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"via\": \"push\", \"last_push\": \"2026-12-10T01:30:00Z\", \"last_push_from\": "
                      "\"192.0.2.5\\u000d\\u000a=1+1\"}"),
            std::string::npos);
  EXPECT_NE(json.find("\"finished\": \"2026-12-08T01:31:00Z\""), std::string::npos);
  EXPECT_NE(json.find("\"archive\": {\"result\": \"committed\", \"commit\": \"0123abcd\"}"),
            std::string::npos);
  run.archive = {true, false, "", "cannot commit: locked"};
  EXPECT_NE(
      JsonReport({}, run).find("\"archive\": {\"result\": \"failed\", \"error\": \"cannot commit: locked\"}"),
      std::string::npos);
  EXPECT_NE(JsonReport({}, run).find("\"devices\": []"), std::string::npos);
}

TEST(BackupReport, CsvQuotesWhatNeedsIt) {
  std::vector<DeviceReport> rows = SampleRows();
  rows[3].error = "=HYPERLINK(\"http://x\")";
  rows[1].error = "@SUM(A1)";
  std::string csv =
      CsvReport(rows, {"s", "2026-12-08T01:31:00Z", {true, true, "0123abcd", ""}, "", {}, {}, {}});
  EXPECT_EQ(csv.substr(0, csv.find("\r\n")),
            "device,host,result,bytes,seconds,error_code,error,history,via,"
            "last_push,last_push_from");
  EXPECT_NE(csv.find("\r\n\"wan,1\",10.0.0.3:69,failed,0,1.000,2,\"アクセス \"\"拒否\"\"\r\nx\",,pull,,\r\n"),
            std::string::npos)
      << csv;
  // A spreadsheet must not take a device's text for a formula.
  EXPECT_NE(csv.find("\r\nedge,10.0.0.2:69,unchanged,100,0.250,,'@SUM(A1),,pull,,\r\n"), std::string::npos)
      << csv;
  EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"http://x\"\")\",,pull,,\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\r\nfar\\u202eevil,"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\r\nbranch,,pushed,0,0.000,,,,push,2026-12-10T01:30:00Z,\"192.0.2.5\r\n=1+1\"\r\n"),
            std::string::npos);
  EXPECT_NE(csv.find("\r\n,finished 2026-12-08T01:31:00Z,run,,,,archive commit 0123abcd,,,,\r\n"),
            std::string::npos);
}

TEST(BackupReport, PasswordsAreScrubbedFromDeviceTextInBothEncodings) {
  struct Row {
    std::string text;
    std::string password;
    bool cp932;
    std::string expected;
    std::string delimiter = "/";
  } rows[] = {
      {"File not found: cfg/hunter2", "hunter2", true, "File not found: cfg***"},
      {"wrong password \x82\xcf\x82\xb7\x82\xed for cfg", "ぱすわ", true, "wrong password *** for cfg"},
      {"no answer for cfg/ぱすわ", "ぱすわ", false, "no answer for cfg***"},
      {"bytes \x82\xcf\x82\xb7\x82\xed quoted", "ぱすわ", false, "bytes *** quoted"},
      {"no password here", "", false, "no password here"},
      // A device that echoes the UTF-8 name in otherwise CP932 text: caught
      // before decoding would turn it into unrecognisable characters.
      {"bad name cfg/ぱす", "ぱす", true, "bad name cfg***"},
      // A short password is only taken out behind its delimiter: bare, it
      // would garble every "a" of the message.
      {"bad pass a for cfg:a", "a", false, "bad pass a for cfg***", ":"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(ScrubbedText(row.text, {"cfg", row.password, row.delimiter, true}, row.cp932), row.expected);
  }
}

TEST(BackupReport, ProgressLine) { EXPECT_EQ(ProgressLine(12, 300, 1), "12/300 devices done, 1 failed"); }

TEST(JobsForDescriptorLimit, ClampsToWhatFits) {
  struct Row {
    int wanted;
    std::uint64_t limit;
    int expected;
  } rows[] = {
      {32, 1024, 32}, {1000, 1024, 333}, {128, 256, 77},         {32, 26, 1},
      {32, 0, 1},     {0, 1024, 1},      {4096, 1u << 20, 4096},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.limit);
    EXPECT_EQ(JobsForDescriptorLimit(row.wanted, row.limit), row.expected);
  }
}

}  // namespace
}  // namespace tarnwick::fleet
