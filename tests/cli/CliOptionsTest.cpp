// Parsing of the tarnwick-cli command line.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "base/Stream.h"
#include "cli/CliOptions.h"
#include "cliutil/LocalFiles.h"

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
  EXPECT_FALSE(r.options.timeoutMs.has_value());
  EXPECT_EQ(r.options.EffectiveTimeoutMs(), kStreamingTimeoutMs);
  EXPECT_EQ(r.options.engine, EngineChoice::Streaming);
  EXPECT_EQ(r.options.retries, 5);
  EXPECT_FALSE(r.options.blockSize || r.options.windowSize || r.options.transferSize || r.options.json);
  EXPECT_EQ(r.options.progress, ProgressMode::Auto);
  EXPECT_EQ(r.options.family, 0);
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
                         "--timeout=-1", "--quiet", "--raw-name", "--engine", "window"});
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
    ParseResult p = Parse({"get", "h", "f", "--timeout", r.text, "--engine=window"});
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
      {"get", "h", "f", "-q"},  // a single-dash word is no file name
      {"get", "h", "-x"},
      {"get", "192.0.2.1", "f", "-6"},
      {"get", "[::1]", "f", "-4"},
      {"get", "h", "f", "-", "--json"},  // the file and the object would share standard output
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
  // "-" is a file; after "--" a dash starts a file name; -4 with a name.
  ParseResult dash = Parse({"put", "h", "-", "cfg"});
  EXPECT_TRUE(dash.ok && dash.options.local == "-") << dash.error;
  ParseResult ended = Parse({"get", "h", "--", "-odd-name"});
  EXPECT_TRUE(ended.ok && ended.options.remote == "-odd-name") << ended.error;
  ParseResult named = Parse({"get", "switch01", "f", "-4"});
  EXPECT_TRUE(named.ok && named.options.family == 4) << named.error;
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

namespace tarnwick::cli {
namespace {

// Every new option with its edge values; `check` looks at the parsed result.
TEST(CliOptions, StreamingOptionsTable) {
  struct Row {
    std::vector<std::string> extra;
    bool ok;
    std::function<bool(const Options&)> check;
  };
  const Row rows[] = {
      {{"--blksize", "8"}, true, [](const Options& o) { return o.blockSize == 8u; }},
      {{"--blksize=65464"}, true, [](const Options& o) { return o.blockSize == 65464u; }},
      {{"--blksize", "7"}, false, nullptr},
      {{"--blksize", "65465"}, false, nullptr},
      {{"--blksize", "1k"}, false, nullptr},
      {{"--windowsize", "1"}, true, [](const Options& o) { return o.windowSize == 1u; }},
      {{"--windowsize", "65535"}, true, [](const Options& o) { return o.windowSize == 65535u; }},
      {{"--windowsize", "0"}, false, nullptr},
      {{"--windowsize", "65536"}, false, nullptr},
      {{"--retries", "0"}, true, [](const Options& o) { return o.retries == 0; }},
      {{"--retries", "1000"}, true, [](const Options& o) { return o.retries == 1000; }},
      {{"--retries", "-1"}, false, nullptr},
      {{"--retries", "1001"}, false, nullptr},
      {{"--tsize"}, true, [](const Options& o) { return o.transferSize; }},
      {{"--tsize=1"}, false, nullptr},
      {{"--no-options"}, true, [](const Options& o) { return o.noOptions; }},
      {{"--no-options", "--blksize", "1428"}, false, nullptr},
      {{"--windowsize", "4", "--no-options"}, false, nullptr},
      {{"--no-options", "--tsize"}, false, nullptr},
      {{"--progress", "always"}, true, [](const Options& o) { return o.progress == ProgressMode::Always; }},
      {{"--progress=never"}, true, [](const Options& o) { return o.progress == ProgressMode::Never; }},
      {{"--progress", "sometimes"}, false, nullptr},
      {{"--json"}, true, [](const Options& o) { return o.json; }},
      {{"-4"}, false, nullptr},  // the host is the IPv6 literal ::1
      {{"-6"}, true, [](const Options& o) { return o.family == 6; }},
      {{"-4", "-6"}, false, nullptr},
      {{"--timeout", "1"}, true, [](const Options& o) { return o.EffectiveTimeoutMs() == 1; }},
      {{"--timeout", "0"}, false, nullptr},   // the streaming engine must wait for something
      {{"--timeout", "-1"}, false, nullptr},  // no limit only on the window's engine
      {{"--engine", "window"},
       true,
       [](const Options& o) { return o.engine == EngineChoice::Window && o.EffectiveTimeoutMs() == 5000; }},
      {{"--engine", "streaming"}, true, [](const Options& o) { return o.engine == EngineChoice::Streaming; }},
      {{"--engine", "fast"}, false, nullptr},
      {{"--engine", "window", "--blksize", "1428"}, false, nullptr},
      {{"--engine", "window", "--windowsize", "2"}, false, nullptr},
      {{"--engine", "window", "--retries", "2"}, false, nullptr},
      {{"--engine", "window", "--tsize"}, false, nullptr},
      {{"--engine", "window", "--no-options"}, false, nullptr},
      {{"--engine", "window", "--json"}, false, nullptr},
      {{"--engine", "window", "--progress", "never"}, false, nullptr},
      {{"--engine", "window", "-6"}, false, nullptr},
      {{"--engine", "window", "--timeout", "0"}, true, [](const Options& o) { return o.timeoutMs == 0; }},
      {{"--password-file"}, false, nullptr},
      {{"--password-file="}, false, nullptr},
      {{"--port", "65535"}, true, [](const Options& o) { return o.port == "65535"; }},
      {{"--port=1"}, true, [](const Options& o) { return o.port == "1"; }},
      {{"--port", "0"}, false, nullptr},
      {{"--port", "65536"}, false, nullptr},
      {{"--port", "99999"}, false, nullptr},
      {{"--port", "abc"}, false, nullptr},
      {{"--port", "tftp"}, false, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.extra));
    std::vector<std::string> args = {"get", "::1", "fw.bin"};
    args.insert(args.end(), r.extra.begin(), r.extra.end());
    ParseResult p = Parse(args);
    ASSERT_EQ(p.ok, r.ok) << p.error;
    if (r.ok) {
      EXPECT_TRUE(r.check(p.options));
      EXPECT_EQ(p.options.host, "::1");
    } else {
      EXPECT_FALSE(p.error.empty());
    }
  }
}

TEST(CliOptions, VersionAndHelpNeedNoCommand) {
  for (const char* flag : {"--version", "--help"}) {
    ParseResult r = Parse({flag});
    ASSERT_TRUE(r.ok) << flag;
  }
  EXPECT_TRUE(Parse({"--version"}).options.version);
  EXPECT_NE(VersionText().find("tarnwick-cli "), std::string::npos);
  // --help names every option and the exit statuses.
  const std::string usage = UsageText();
  for (const char* name : {"--port",
                           "--password ",
                           "--password-file",
                           "--delimiter",
                           "--timeout",
                           "--retries",
                           "--blksize",
                           "--windowsize",
                           "--tsize",
                           "--no-options",
                           "-4, -6",
                           "--progress",
                           "--json",
                           "--engine",
                           "--quiet",
                           "--raw-name",
                           "--version",
                           "--help",
                           "TARNWICK_PASSWORD",
                           "exit status: 0 done, 1 transfer failed"}) {
    EXPECT_NE(usage.find(name), std::string::npos) << name;
  }
}

TEST(CliOptions, PasswordSourcesAndPrecedence) {
  const Environment withEnv{std::string("from-env")};
  struct Row {
    std::vector<std::string> extra;
    Environment environment;
    bool ok;
    PasswordSource source;
    std::string password;  // before the file is read
  };
  const Row rows[] = {
      {{}, {}, true, PasswordSource::None, ""},
      {{}, withEnv, true, PasswordSource::Environment, "from-env"},
      {{"--password", "typed"}, withEnv, true, PasswordSource::Option, "typed"},
      {{"--password", ""}, withEnv, true, PasswordSource::Option, ""},  // an empty one still overrides
      {{"--password-file", "pw.txt"}, withEnv, true, PasswordSource::File, ""},
      {{"--password", "typed", "--password-file", "pw.txt"}, {}, false, PasswordSource::None, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.extra));
    std::vector<std::string> args = {"get", "h", "f"};
    args.insert(args.end(), r.extra.begin(), r.extra.end());
    ParseResult p = ParseArguments(args, r.environment);
    ASSERT_EQ(p.ok, r.ok) << p.error;
    if (!r.ok) {
      EXPECT_EQ(p.error.find("typed"), std::string::npos);  // never echoes the password
      continue;
    }
    EXPECT_EQ(p.options.passwordSource, r.source);
    EXPECT_EQ(p.options.password, r.password);
  }
}

TEST(CliOptions, PasswordFileLosesOneTrailingLineBreak) {
  const std::string path = ::testing::TempDir() + "tarnwick-password.txt";
  struct Row {
    std::string content;
    std::string password;
  };
  const Row rows[] = {{"s3cret\n", "s3cret"},
                      {"s3cret\r\n", "s3cret"},
                      {"s3cret", "s3cret"},
                      {"s3cret\n\n", "s3cret\n"},
                      {"two words \n", "two words "},
                      {"\n", ""},
                      {"", ""}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.content));
    { std::ofstream(path, std::ios::binary) << r.content; }
    ParseResult p = Parse({"get", "h", "f", "--password-file", path});
    ASSERT_TRUE(p.ok) << p.error;
    ResolvePassword(p.options);
    EXPECT_EQ(p.options.password, r.password);
  }
  std::remove(path.c_str());
  // Missing, a folder: a local-file error with the system's reason (the
  // process test checks its words), never a library's exception.
  for (const std::string& unreadable : {path + ".absent", ::testing::TempDir()}) {
    ParseResult p = Parse({"get", "h", "f", "--password-file", unreadable});
    EXPECT_THROW(ResolvePassword(p.options), ELocalFileError) << unreadable;
  }
}

}  // namespace
}  // namespace tarnwick::cli
