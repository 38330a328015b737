// The transfer log line, human and JSON, exactly; and names from any bytes
// kept to one line, in reading order, valid JSON.
#include <gtest/gtest.h>

#include <limits>

#include "base/TextCodec.h"
#include "serve/LogText.h"
#include "serve/TransferLog.h"

namespace tarnwick::serve {
namespace {

// What a strict JSON reader and a terminal need of a literal: valid UTF-8,
// no raw control or bidi character, only JSON's escapes, no bare quote.
bool ValidJsonLiteral(const std::string& s) {
  if (s.size() < 2 || s.front() != '"' || s.back() != '"' || !Utf8ToUtf16Strict(s)) return false;
  for (std::size_t i = 1; i + 1 < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == '"' || s.compare(i, 3, "\xE2\x80\xAE") == 0) return false;
    if (c == '\\' && (i + 2 >= s.size() || std::string("\"\\/bfnrtu").find(s[++i]) == std::string::npos))
      return false;
  }
  return true;
}

TEST(TransferLog, HostileNamesStayOneLineAndValidJson) {
  struct Row {
    std::string bytes, shown, json;
  } rows[] = {
      {"cfg/スイッチ1.cfg", "cfg/スイッチ1.cfg", "\"cfg/スイッチ1.cfg\""},
      {"a\nb\r\x1b[2J", "a\\x0Ab\\x0D\\x1B[2J", "\"a\\u000ab\\u000d\\u001b[2J\""},
      {"evil\xE2\x80\xAEgpj.exe", "evil\\u202Egpj.exe", "\"evil\\u202egpj.exe\""},
      {"x\xE2\x80\xA8y\xE2\x81\xA6z\xC2\x85", "x\\u2028y\\u2066z\\u0085", "\"x\\u2028y\\u2066z\\u0085\""},
      {"\x82\xA0\xFF\xC0\xAF\xE2\x80", "\\x82\\xA0\\xFF\\xC0\\xAF\\xE2\\x80",
       "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xED\xA0\x80 \xF4\x90\x80\x80", "\\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80",
       "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.bytes));
    EXPECT_EQ(ShownText(row.bytes), row.shown);
    EXPECT_EQ(JsonText(row.bytes), row.json);
  }
  for (int b = 0; b < 256; ++b)
    EXPECT_TRUE(ValidJsonLiteral(JsonText(std::string(2, static_cast<char>(b)) + "\xE2\x80\xAE"))) << b;
}

template <typename... Fields>
TransferRecord Record(Fields... fields) {
  return TransferRecord{fields...};
}

TEST(TransferLog, LinesAndTimestamps) {
  // time, client, file, direction, mode, bytes, seconds, options, retransmissions, result, reason
  const tftp::AgreedOptions negotiated{1428, 16, std::nullopt, 8388608, true}, plain{512, 1, 3, {}, false};
  TransferRecord r = Record(1796729131123, "[2001:db8::7]:50123", "img\x1b.bin", RequestKind::Read,
                            TransferMode::Octet, 8388608u, 1.25, negotiated, 3u, "done", "");
  EXPECT_EQ(
      FormatHumanLine(r),
      "2026-12-08T11:25:31.123Z [2001:db8::7]:50123 read \"img\\x1B.bin\" done 8388608 bytes in 1.250 s "
      "(octet, blksize 1428, windowsize 16, tsize 8388608) 3 retransmissions\n");
  EXPECT_EQ(
      FormatJsonLine(r),
      "{\"time\":\"2026-12-08T11:25:31.123Z\",\"client\":\"[2001:db8::7]:50123\",\"file\":\"img\\u001b.bin\","
      "\"direction\":\"read\",\"mode\":\"octet\",\"bytes\":8388608,\"seconds\":1.250,\"options\":{"
      "\"negotiated\":true,\"blksize\":1428,\"windowsize\":16,\"tsize\":8388608,\"timeout\":null},"
      "\"retransmissions\":3,\"result\":\"done\",\"reason\":\"\"}\n");
  const double nan = std::numeric_limits<double>::quiet_NaN();
  r = Record(0, "192.0.2.7:69", "x", RequestKind::Write, TransferMode::Netascii, 0u, nan, plain, 0u,
             "refused", "file exists");
  EXPECT_EQ(FormatHumanLine(r),
            "1970-01-01T00:00:00.000Z 192.0.2.7:69 write \"x\" refused 0 bytes in 0.000 s "
            "(netascii, blksize 512, windowsize 1, timeout 3) 0 retransmissions: file exists\n");
  EXPECT_NE(FormatJsonLine(r).find(",\"seconds\":0.000,"), std::string::npos);
  const std::pair<std::int64_t, const char*> stamps[] = {
      {-1, "1969-12-31T23:59:59.999Z"},
      {951782400000, "2000-02-29T00:00:00.000Z"},
      {253402300799999, "9999-12-31T23:59:59.999Z"},
  };
  for (const auto& [ms, text] : stamps) EXPECT_EQ(UtcTimestamp(ms), text) << ms;
}

}  // namespace
}  // namespace tarnwick::serve
