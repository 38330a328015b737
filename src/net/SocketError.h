// The socket layer's exception and the English descriptions of the Windows
// Sockets error numbers.
#pragma once

#include <string>

#include "base/Exception.h"

namespace tarnwick {

class ESocketError : public Exception {
 public:
  ESocketError(std::string message, int errorNumber, std::string errorText)
      : Exception("ESocketError", std::move(message)),
        ErrorNumber(errorNumber),
        ErrorText(std::move(errorText)) {}

  int ErrorNumber;
  std::string ErrorText;
};

// Description of a Windows Sockets error number; empty for 0 and
// "Not a Winsock error (n)" for numbers outside the table.
std::string GetErrorDesc(int code);

// Codes the layer uses by name.
constexpr int kErrorWouldBlock = 10035;
constexpr int kErrorInProgress = 10036;
constexpr int kErrorNoBuffers = 10055;
constexpr int kErrorConnectionReset = 10054;
constexpr int kErrorTimedOut = 10060;
constexpr int kErrorSubsystemUnusable = 10091;
constexpr int kErrorNoRecovery = 11003;

}  // namespace tarnwick
