// Parsing of the tarnwick-cli command line.
#include <gtest/gtest.h>

#include "cli/CliOptions.h"

namespace tarnwick::cli {
namespace {

ParseResult Parse(std::vector<std::string> args) { return ParseArguments(args); }

TEST(CliOptions, GetAndPutWithDefaults) {
  ParseResult r = Parse({"get", "10.0.0.1", "dir/config"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.command, Command::Get);
  EXPECT_EQ(r.options.host, "10.0.0.1");
  EXPECT_EQ(r.options.remote, "dir/config");
  EXPECT_EQ(r.options.local, "config");
  EXPECT_EQ(r.options.port, "69");
  EXPECT_EQ(r.options.delimiter, "/");
  EXPECT_EQ(r.options.password, "");
  EXPECT_EQ(r.options.timeoutMs, 5000);
  EXPECT_FALSE(r.options.quiet);
  EXPECT_FALSE(r.options.rawName);

  r = Parse({"put", "h", "C:\\fw\\image.bin"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.command, Command::Put);
  EXPECT_EQ(r.options.local, "C:\\fw\\image.bin");
  EXPECT_EQ(r.options.remote, "image.bin");

  r = Parse({"put", "h", "local.bin", "remote.bin"});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.options.remote, "remote.bin");
}

TEST(CliOptions, OptionsAnywhereInBothForms) {
  ParseResult r = Parse({"--port", "6969", "get", "--password=se cret", "h", "--delimiter", "", "cfg", "out",
                         "--timeout=-1", "--quiet", "--raw-name"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.port, "6969");
  EXPECT_EQ(r.options.password, "se cret");
  EXPECT_EQ(r.options.delimiter, "");
  EXPECT_EQ(r.options.timeoutMs, -1);
  EXPECT_TRUE(r.options.quiet);
  EXPECT_TRUE(r.options.rawName);
  EXPECT_EQ(r.options.local, "out");

  r = Parse({"get", "h", "--", "--odd-name"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.remote, "--odd-name");
}

TEST(CliOptions, TimeoutBoundaries) {
  struct Row {
    std::string text;
    bool ok;
    std::int32_t value;
  };
  const Row rows[] = {{"0", true, 0},
                      {"-1", true, -1},
                      {"2147483647", true, 2147483647},
                      {"2147483648", false, 0},
                      {"-2", false, 0},
                      {"", false, 0},
                      {"10ms", false, 0},
                      {"99999999999999999999", false, 0}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    ParseResult p = Parse({"get", "h", "f", "--timeout", r.text});
    EXPECT_EQ(p.ok, r.ok) << p.error;
    if (r.ok) {
      EXPECT_EQ(p.options.timeoutMs, r.value);
    }
  }
}

TEST(CliOptions, RefusedLines) {
  const std::vector<std::vector<std::string>> rows = {
      {},
      {"fetch", "h", "f"},
      {"get", "h"},
      {"get", "h", "a", "b", "c"},
      {"get", "", "f"},
      {"get", "h", "dir/"},  // no local name to derive
      {"get", "h", "f", "--port"},
      {"get", "h", "f", "--port="},
      {"get", "h", "f", "--verbose"},
      {"get", "h", "f", "--quiet=yes"},
  };
  for (const auto& args : rows) {
    SCOPED_TRACE(testing::PrintToString(args));
    ParseResult r = Parse(args);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.empty());
  }
  ParseResult help = Parse({"--help"});
  EXPECT_TRUE(help.ok);
  EXPECT_TRUE(help.options.help);
}

TEST(CliOptions, LastPathComponent) {
  EXPECT_EQ(LastPathComponent("a/b/c"), "c");
  EXPECT_EQ(LastPathComponent("a\\b"), "b");
  EXPECT_EQ(LastPathComponent("plain"), "plain");
  EXPECT_EQ(LastPathComponent("dir/"), "");
  EXPECT_EQ(LastPathComponent(""), "");
}

}  // namespace
}  // namespace tarnwick::cli
