// The remote-name, shown-name, trimming and one-line rules shared by the
// window and the command line.
#include <gtest/gtest.h>

#include "app/TransferNames.h"
#include "app/WorkLogText.h"

namespace tarnwick {
namespace {

TEST(TransferNames, TrimRemovesBytesBelow33AtBothEnds) {
  EXPECT_EQ(TrimName("  config \t\r\n"), "config");
  EXPECT_EQ(TrimName(std::string("\0\x1f"
                                 "a b"
                                 "\x20",
                                 6)),
            "a b");
  EXPECT_EQ(TrimName("!x!"), "!x!");  // 33 stays
  EXPECT_EQ(TrimName("\x7f"), "\x7f");
  EXPECT_EQ(TrimName("日本 "), "日本");  // multibyte bytes are all >= 0x80
  EXPECT_EQ(TrimName("   "), "");
  EXPECT_EQ(TrimName(""), "");
}

TEST(TransferNames, RemoteAndShownNamesOverTheFieldCombinations) {
  using D = TransferDirection;
  struct Row {
    D direction;
    std::string file, password, delimiter;
    bool mask;
    std::string remote, shown;
  };
  const Row rows[] = {
      // initial values: no password, masked
      {D::Receive, "config", "", "/", true, "config", "config"},
      {D::Receive, "config", "pw", "/", true, "config/pw", "config"},
      {D::Receive, "config", "pw", "/", false, "config/pw", "config/pw"},
      // a password of blanks counts as present; the shown name trims it away
      {D::Receive, "config", "  ", "/", false, "config/  ", "config/"},
      // masking off with an empty password still shows the delimiter
      {D::Send, "config", "", "/", false, "config", "config/"},
      // send trims the file name, receive takes it as typed
      {D::Send, "  fw.bin ", "pw", "/", true, "fw.bin/pw", "fw.bin"},
      {D::Receive, "  fw.bin ", "pw", "/", true, "  fw.bin /pw", "  fw.bin "},
      // empty delimiter runs name and password together
      {D::Send, "fw", "pw", "", false, "fwpw", "fwpw"},
      // delimiter and password go into the request as typed, trimmed in the log
      {D::Send, "fw", " p ", " : ", false, "fw :  p ", "fw:p"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "file '" << r.file << "' password '" << r.password << "' delimiter '"
                                    << r.delimiter << "' mask " << r.mask);
    NameFields f{r.file, r.password, r.delimiter, r.mask};
    EXPECT_EQ(RemoteName(r.direction, f), r.remote);
    EXPECT_EQ(ShownName(r.direction, f), r.shown);
  }
}

TEST(TransferNames, DeviceTextBecomesOneLine) {
  EXPECT_EQ(OneLineText("a\r\nb\tc"), "a  b c");
  EXPECT_EQ(OneLineText(std::string("x\0y\x7f", 4)), "x y ");
  EXPECT_EQ(OneLineText("日本語 ok"), "日本語 ok");
  EXPECT_EQ(OneLineText(""), "");
}

TEST(TransferNames, ErrorCodeLineLayout) {
  EXPECT_EQ(ErrorCodeLine(1, "File not found"), "ホストから返ってきたエラーコード：1 - File not found");
  EXPECT_EQ(ErrorCodeLine(0, ""), "ホストから返ってきたエラーコード：0 - ");
  EXPECT_EQ(ErrorCodeLine(65535, "a\nb"), "ホストから返ってきたエラーコード：65535 - a b");
  EXPECT_EQ(std::string(worklog::kErrorCodeLine) + "5" + worklog::kErrorCodeSeparator + "x",
            ErrorCodeLine(5, "x"));
}

}  // namespace
}  // namespace tarnwick
