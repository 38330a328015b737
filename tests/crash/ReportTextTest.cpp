// Report header and the console and web forms of a report.
#include <gtest/gtest.h>

#include "crash/ReportText.h"

namespace tarnwick {
namespace {

ReportFields Sample() {
  ReportFields f;
  f.computerName = "HOST";
  f.date = "2026/12/07";
  f.time = "21:05:09";
  f.exceptionType = "EFOpenError";
  f.exceptionMessage = "Cannot open file";
  return f;
}

TEST(ReportHeaderTest, ValuesStartInColumnTwenty) {
  const std::string header = BuildReportHeader(TarnwickCrashOptions(), Sample());
  EXPECT_EQ(header,
            "HOST 2026/12/07 21:05:09\r\n"
            "Active Form      : ----\r\n"
            "Active Control   : ----\r\n"
            "Exception Type   : EFOpenError\r\n"
            "Exception Message: Cannot open file\r\n"
            "Version Number   : ----\r\n");
}

TEST(ReportHeaderTest, LogPlaceLineIsAlignedWithTheFields) {
  EXPECT_EQ(LogPlaceLine(TarnwickCrashOptions(), "C:\\Users\\u\\AppData\\Local\\Tarnwick\\Tarnwick.log"),
            "Log File         : C:\\Users\\u\\AppData\\Local\\Tarnwick\\Tarnwick.log\r\n");
  CrashOptions shortLabels = TarnwickCrashOptions();
  for (std::size_t i = kTextActiveForm; i <= kTextVersionNumber; ++i) shortLabels.texts[i] = {"V"};
  EXPECT_EQ(LogPlaceLine(shortLabels, "x.log"), "Log File: x.log\r\n") << "never cut to shorter labels";
}

TEST(ReportHeaderTest, SwitchedOffPartsDisappear) {
  struct Case {
    bool computer, date, time;
    const char* first;
  } cases[] = {
      {false, false, false, "Active Form"},
      {true, false, false, "HOST \r\n"},
      {false, true, false, "2026/12/07 \r\n"},
      {false, false, true, "21:05:09\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    CrashOptions o = TarnwickCrashOptions();
    o.showComputerName = c.computer;
    o.showDate = c.date;
    o.showTime = c.time;
    EXPECT_EQ(BuildReportHeader(o, Sample()).rfind(c.first, 0), 0u);
  }
  CrashOptions o = TarnwickCrashOptions();
  o.showActiveForm = o.showActiveControl = o.showVersionNumber = false;
  o.texts[kTextExceptionMessage] = {"Msg"};  // the longest label now sets the padding
  EXPECT_EQ(BuildReportHeader(o, Sample()).substr(26),
            "Exception Type: EFOpenError\r\nMsg           : Cannot open file\r\n");
}

TEST(ReportMessageTest, ControlBytesBecomeSpaces) {
  EXPECT_EQ(ReportMessage("a\r\nb\tc"), "a  b c");
  EXPECT_EQ(ReportMessage(std::string("x\0y", 3)), "x y");
  EXPECT_EQ(ReportMessage("\x1e\x1f "), " \x1f ");
  EXPECT_EQ(ReportMessage("\x82\xa0"), "\x82\xa0");  // double-byte text stays
}

TEST(VersionNumberTest, ReleaseAndBuildOnlyWhenSet) {
  EXPECT_EQ(FormatVersionNumber(1, 0, 0, 0), "1.0");
  EXPECT_EQ(FormatVersionNumber(2, 5, 3, 0), "2.5.3");
  EXPECT_EQ(FormatVersionNumber(2, 5, 0, 7), "2.5.0.7");
  EXPECT_EQ(FormatVersionNumber(2, 5, 3, 7), "2.5.3.7");
}

TEST(ReportFormsTest, ConsoleAndWeb) {
  const CrashOptions o = TarnwickCrashOptions();
  const std::string report = "A B\r\nC";
  EXPECT_EQ(ConsoleReport(o, "Tarnwick.exe", report),
            "Exception Log (Tarnwick.exe)\r\n\r\n"
            "An error has occurred during the execution of the program.\r\n"
            "For more details read the following informations.\r\n\r\n"
            "Informations on the error:\r\nA B\r\nC\r\n");
  const std::string web = WebReport(o, "Tarnwick.exe", report);
  EXPECT_EQ(web.rfind("HTTP/1.0 200 OK\r\nCONTENT-TYPE: TEXT/HTML\r\n\r\n<html>\r\n<head>\r\n", 0), 0u);
  EXPECT_NE(web.find("<title>Exception Log (Tarnwick.exe)</title>\r\n"), std::string::npos);
  EXPECT_NE(web.find("<br><br>Informations on the error:<br>A&nbsp;B<br>C\r\n"), std::string::npos);
  const std::string tail = "</font></small></p>\r\n</body>\r\n</html>\r\n";
  ASSERT_GT(web.size(), tail.size());
  EXPECT_EQ(web.substr(web.size() - tail.size()), tail);
}

}  // namespace
}  // namespace tarnwick
