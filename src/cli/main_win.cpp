// tarnwick-cli entry on Windows: wide arguments converted to UTF-8, and the
// console switched to UTF-8 so the Japanese log lines print as they are.
#include <windows.h>

#include <string>
#include <vector>

#include "base/TextCodec.h"
#include "cli/CliTransfer.h"
#include "cliutil/Console.h"

int wmain(int argc, wchar_t** argv) {
  tarnwick::cli::OpenClosedStandardStreams();
  ::SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(tarnwick::WideToUtf8(argv[i]));
  return tarnwick::cli::RunProgram(args);
}
