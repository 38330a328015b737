// The tarnwick-cli program itself: exit status and output streams as a shell
// sees them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "../tftp/ScriptedPeer.h"

namespace {

#ifndef _WIN32
struct Outcome {
  int status = -1;
  std::string output;  // stdout and stderr together
};

Outcome RunCli(const std::string& arguments) {
  Outcome o;
  std::string command = std::string(TARNWICK_CLI_PATH) + " " + arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return o;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) o.output.append(buffer, n);
  int raw = ::pclose(pipe);
  o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return o;
}

TEST(CliProcess, ExitStatusForUsageAndHelp) {
  tarnwick::testing_support::ScriptedPeer silent;  // a loopback port where nothing answers
  const std::string port = std::to_string(silent.Port());
  struct Row {
    std::string arguments;
    int status;
    std::string mustContain;
  };
  const Row rows[] = {
      {"", 2, "usage: tarnwick-cli get"},
      {"get 127.0.0.1", 2, "missing arguments"},
      {"get 127.0.0.1 f --timeout abc", 2, "--timeout"},
      {"--help", 0, "--raw-name"},
      {"put 127.0.0.1 /nonexistent/tarnwick-input --port " + port, 2,
       "ファイル /nonexistent/tarnwick-input は開けません"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.arguments);
    Outcome o = RunCli(r.arguments);
    EXPECT_EQ(o.status, r.status) << o.output;
    EXPECT_NE(o.output.find(r.mustContain), std::string::npos) << o.output;
  }
}

TEST(CliProcess, UnreachableServerExitsWithOneAfterOneWait) {
  // The request reaches a socket that never answers.
  tarnwick::testing_support::ScriptedPeer silent;
  const std::string target = ::testing::TempDir() + "tarnwick-cli-unreachable.bin";
  Outcome o = RunCli("get 127.0.0.1 config " + target + " --port " + std::to_string(silent.Port()) +
                     " --timeout 300");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_NE(o.output.find("ホストから返ってきたエラーコード：0 - \n"), std::string::npos) << o.output;
  EXPECT_TRUE(silent.Receive(1000).has_value());  // the one request, sent once
  EXPECT_FALSE(silent.Receive(200).has_value());
  EXPECT_EQ(std::fopen(target.c_str(), "rb"), nullptr);
}
#endif

}  // namespace
