// The root of every error the program raises. Besides its message it keeps
// its class name and the point where it was raised (address and call stack),
// so a report shows where the error started, not where it was caught.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace tarnwick {

struct RaisePoint {
  std::uintptr_t address = 0;              // code address of the raise site
  std::vector<std::uintptr_t> stack;       // return addresses found above it
};

// Filled in by the crash reporter on Windows; without a hook only the raise
// address is recorded.
using RaiseCaptureHook = void (*)(RaisePoint& point);
void SetRaiseCaptureHook(RaiseCaptureHook hook) noexcept;

class Exception : public std::exception {
 public:
  // className is the described class name ("EFOpenError", "ESocketError",
  // ...); message is UTF-8.
  Exception(const char* className, std::string message);

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& ClassName() const noexcept { return className_; }
  const std::string& Message() const noexcept { return message_; }
  const RaisePoint& Raised() const noexcept { return raised_; }

 private:
  std::string className_;
  std::string message_;
  RaisePoint raised_;
};

}  // namespace tarnwick
