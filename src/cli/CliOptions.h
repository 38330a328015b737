// Command line of tarnwick-cli:
//   tarnwick-cli get HOST REMOTE [LOCAL]
//   tarnwick-cli put HOST LOCAL [REMOTE]
// with the options anywhere on the line ("--" ends them). Parsing is pure:
// the environment comes in as a value, and the password file is only named
// here and read by the caller (ResolvePassword).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::cli {

enum class Command { Get, Put };
// Streaming: the command line's own engine (default). Window: the window's
// in-memory engine, to reproduce exactly what the window does.
enum class EngineChoice { Streaming, Window };
enum class ProgressMode { Auto, Always, Never };
enum class PasswordSource { None, Option, File, Environment };

// Defaults of --timeout: the window engine waits once for each answer; the
// streaming engine retransmits after this first wait and doubles it after
// each time-out in a row, up to kBackOffFactor times the first wait.
inline constexpr std::int32_t kWindowTimeoutMs = 5000;
inline constexpr std::int32_t kStreamingTimeoutMs = 1000;
inline constexpr std::int32_t kBackOffFactor = 8;
inline constexpr int kDefaultRetries = 5;

struct Options {
  Command command = Command::Get;
  std::string host;
  std::string remote;  // as typed (UTF-8 unless rawName)
  std::string local;
  std::string port = "69";
  std::string password;
  PasswordSource passwordSource = PasswordSource::None;
  std::string passwordFile;  // read by ResolvePassword when the source is File
  std::string delimiter = "/";
  std::optional<std::int32_t> timeoutMs;  // unset: the engine's default
  bool quiet = false;
  bool rawName = false;
  bool help = false;
  bool version = false;

  EngineChoice engine = EngineChoice::Streaming;
  std::optional<std::uint32_t> blockSize;   // --blksize
  std::optional<std::uint32_t> windowSize;  // --windowsize
  int retries = kDefaultRetries;
  bool noOptions = false;
  bool transferSize = false;  // --tsize
  ProgressMode progress = ProgressMode::Auto;
  bool json = false;
  int family = 0;  // 0 either, 4 or 6

  std::int32_t EffectiveTimeoutMs() const {
    return timeoutMs.value_or(engine == EngineChoice::Window ? kWindowTimeoutMs : kStreamingTimeoutMs);
  }
};

// What the parser reads from the process environment.
struct Environment {
  std::optional<std::string> password;  // TARNWICK_PASSWORD
};

struct ParseResult {
  bool ok = false;
  Options options;
  std::string error;  // why the line was refused (never holds a password)
  // Known even for a refused line, so the refusal can be a JSON object too.
  bool json = false;    // --json was on the line
  std::string command;  // "get" / "put" when the line names one
};

// args excludes the program name.
ParseResult ParseArguments(const std::vector<std::string>& args, const Environment& environment = {});

// Reads the password file when the options name one: its bytes, less one
// trailing line break ("\n" or "\r\n"). Raises ELocalFileError with the
// system's reason.
void ResolvePassword(Options& options);

// The last component of a path ("a/b\\c.txt" -> "c.txt"): the default local
// name of a get and the default remote name of a put.
std::string LastPathComponent(const std::string& path);

std::string UsageText();
std::string VersionText();

}  // namespace tarnwick::cli
