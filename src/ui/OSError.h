// The error raised when a Win32 call the library depends on fails (a window
// that cannot be created, a class that cannot be registered).
#pragma once

#include <string>

#include "base/Exception.h"

namespace tarnwick {

class EOSError : public Exception {
 public:
  EOSError(std::string message, unsigned long code)
      : Exception("EOSError", std::move(message)), code_(code) {}
  unsigned long ErrorCode() const noexcept { return code_; }

 private:
  unsigned long code_;
};

// Raises EOSError for GetLastError(), naming the call that failed.
[[noreturn]] void RaiseLastOSError(const char* call);

}  // namespace tarnwick
