// Command line of tarnwick-cli:
//   tarnwick-cli get HOST REMOTE [LOCAL]
//   tarnwick-cli put HOST LOCAL [REMOTE]
// with --port, --password, --delimiter, --timeout, --quiet, --raw-name and
// --help anywhere on the line ("--" ends the options).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::cli {

enum class Command { Get, Put };

struct Options {
  Command command = Command::Get;
  std::string host;
  std::string remote;  // as typed (UTF-8 unless rawName)
  std::string local;
  std::string port = "69";
  std::string password;
  std::string delimiter = "/";
  std::int32_t timeoutMs = 5000;
  bool quiet = false;
  bool rawName = false;
  bool help = false;
};

struct ParseResult {
  bool ok = false;
  Options options;
  std::string error;  // why the line was refused
};

// args excludes the program name.
ParseResult ParseArguments(const std::vector<std::string>& args);

// The last component of a path ("a/b\\c.txt" -> "c.txt"): the default local
// name of a get and the default remote name of a put.
std::string LastPathComponent(const std::string& path);

std::string UsageText();

}  // namespace tarnwick::cli
