// tarnwick-cli entry on POSIX: arguments are UTF-8 already.
#include <string>
#include <vector>

#include "cli/CliTransfer.h"

int main(int argc, char** argv) {
  return tarnwick::cli::RunProgram(std::vector<std::string>(argv + 1, argv + argc));
}
