// tarnwick-cli entry on POSIX: arguments are UTF-8 already.
#include <iostream>

#include "base/Exception.h"
#include "cli/CliTransfer.h"
#include "net/SocketApi.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
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
