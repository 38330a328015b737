// tarnwick-cli entry on Windows: wide arguments converted to UTF-8, and the
// console switched to UTF-8 so the Japanese log lines print as they are.
#include <windows.h>

#include <iostream>

#include "base/Exception.h"
#include "base/TextCodec.h"
#include "cli/CliTransfer.h"
#include "net/SocketApi.h"

int wmain(int argc, wchar_t** argv) {
  ::SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(tarnwick::WideToUtf8(argv[i]));
  try {
    tarnwick::SocketLayerScope sockets;
    return tarnwick::cli::RunMain(args, std::cout, std::cerr);
  } catch (const tarnwick::Exception& e) {
    std::cerr << "tarnwick-cli: " << e.Message() << '\n';
    return tarnwick::cli::kExitTransferFailed;
  } catch (const std::exception& e) {
    std::cerr << "tarnwick-cli: " << e.what() << '\n';
    return tarnwick::cli::kExitTransferFailed;
  }
}
