// tarnwick-cli entry on POSIX: arguments are UTF-8 already.
#include <string>
#include <vector>

#include "cli/CliTransfer.h"
#include "cliutil/Console.h"

int main(int argc, char** argv) {
  tarnwick::cli::OpenClosedStandardStreams();
  return tarnwick::cli::RunProgram(std::vector<std::string>(argv + 1, argv + argc));
}
