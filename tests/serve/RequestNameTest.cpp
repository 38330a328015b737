// Requested names to components: what is refused, with which code, under
// the POSIX and the Windows rule sets.
#include <gtest/gtest.h>

#include "serve/RequestName.h"

namespace tarnwick::serve {
namespace {

TEST(RequestName, SplitsAndRefusesHostileSpellings) {
  struct Row {
    std::string wire;
    bool windows;
    std::vector<std::string> parts;  // empty: refused
    std::uint16_t code;
  } rows[] = {
      {"a.bin", false, {"a.bin"}, 0},
      {"/cfg/sw1.cfg", false, {"cfg", "sw1.cfg"}, 0},
      {"%2e%2e/x", false, {"%2e%2e", "x"}, 0},  // nothing is decoded
      {"a:b", false, {"a:b"}, 0},               // a plain name on POSIX
      {"", false, {}, kErrorNotFound},
      {"/", false, {}, kErrorAccess},
      {"a/../../x", false, {}, kErrorAccess},
      {"a/./b", false, {}, kErrorAccess},
      {"a//b", false, {}, kErrorAccess},
      {"a\nb", false, {}, kErrorAccess},
      {".tarnwick-up-3", false, {}, kErrorAccess},
      {std::string(1025, 'x'), false, {}, kErrorAccess},
      {"C:\\boot.ini", true, {}, kErrorAccess},
      {"\\\\?\\C:\\x", true, {}, kErrorAccess},
      {"\\\\server\\share\\x", true, {}, kErrorAccess},
      {"file.txt:stream", true, {}, kErrorAccess},
      {"NUL", true, {}, kErrorAccess},
      {"sub/Com1.tar.gz", true, {}, kErrorAccess},
      {"name.", true, {}, kErrorAccess},
      {"a*b", true, {}, kErrorAccess},
      {"COM0", true, {"COM0"}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.wire + (row.windows ? " (windows)" : ""));
    RequestName name = SplitRequestName(row.wire, row.windows);
    EXPECT_EQ(name.parts, row.parts);
    EXPECT_EQ(name.refusal.Refused(), row.parts.empty());
    EXPECT_EQ(name.refusal.code, row.code) << name.refusal.reason;
  }
  std::string deep;  // 31 folders and a file: the deepest name taken
  for (int i = 0; i < 31; ++i) deep += "d/";
  EXPECT_EQ(SplitRequestName(deep + "f", false).parts.size(), kMaxDepth);
  EXPECT_EQ(SplitRequestName("d/" + deep + "f", false).refusal.code, kErrorAccess);
}

}  // namespace
}  // namespace tarnwick::serve
