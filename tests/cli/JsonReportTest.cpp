// The --json object: escaping and fields.
#include <gtest/gtest.h>

#include "cli/JsonReport.h"

namespace tarnwick::cli {
namespace {

TEST(JsonReport, StringEscaping) {
  struct Row {
    std::string in;
    std::string out;
  };
  const Row rows[] = {
      {"", "\"\""},
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"line\nbreak\r\ttab", "\"line\\nbreak\\r\\ttab\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"\x01\x1f\x7f", "\"\\u0001\\u001f\\u007f\""},
      {"ファイル", "\"ファイル\""},
      {"bad\xff" "byte", "\"bad\xEF\xBF\xBD" "byte\""},  // never invalid UTF-8 in the output
      {"/slash", "\"/slash\""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.out);
    EXPECT_EQ(JsonString(r.in), r.out);
  }
}

TEST(JsonReport, SuccessfulGet) {
  JsonReport r;
  r.command = "get";
  r.result = "done";
  r.remote = "fw.bin";
  r.local = "/tmp/fw.bin";
  r.server = "[::1]:69";
  r.bytes = 5000;
  r.seconds = 2.0;
  r.negotiated = true;
  r.blockSize = 1428;
  r.windowSize = 16;
  r.transferSize = 5000;
  EXPECT_EQ(FormatJsonReport(r),
            "{\"command\":\"get\",\"result\":\"done\",\"remote\":\"fw.bin\",\"local\":\"/tmp/fw.bin\","
            "\"server\":\"[::1]:69\",\"bytes\":5000,\"seconds\":2.000,\"bytes_per_second\":2500.000,"
            "\"options\":{\"negotiated\":true,\"blksize\":1428,\"windowsize\":16,\"tsize\":5000,\"timeout\":null},"
            "\"retransmissions\":0,\"device_error\":null,\"reason\":\"\"}\n");
}

TEST(JsonReport, FailureWithDeviceErrorAndZeroTime) {
  JsonReport r;
  r.command = "put";
  r.result = "failed";
  r.errorCode = 2;
  r.errorText = "アクセス\t違反";
  r.reason = "device said \"no\"";
  r.retransmissions = 3;
  const std::string json = FormatJsonReport(r);
  EXPECT_NE(json.find("\"seconds\":0.000,\"bytes_per_second\":0.000"), std::string::npos) << json;
  EXPECT_NE(json.find("\"device_error\":{\"code\":2,\"text\":\"アクセス\\t違反\"}"), std::string::npos) << json;
  EXPECT_NE(json.find("\"reason\":\"device said \\\"no\\\"\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"retransmissions\":3"), std::string::npos) << json;
  EXPECT_NE(json.find("\"tsize\":null"), std::string::npos) << json;
  EXPECT_EQ(json.find('\n'), json.size() - 1);  // one line
}

}  // namespace
}  // namespace tarnwick::cli
