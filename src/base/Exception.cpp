#include "base/Exception.h"

#include <atomic>

namespace tarnwick {
namespace {
std::atomic<RaiseCaptureHook> captureHook{nullptr};
}

void SetRaiseCaptureHook(RaiseCaptureHook hook) noexcept { captureHook.store(hook); }

// Kept out of line so that the return address is the code that built the
// exception, which is where it is thrown.
__attribute__((noinline)) Exception::Exception(const char* className, std::string message)
    : className_(className), message_(std::move(message)) {
  raised_.address = reinterpret_cast<std::uintptr_t>(__builtin_extract_return_addr(__builtin_return_address(0)));
  if (RaiseCaptureHook hook = captureHook.load()) hook(raised_);
}

}  // namespace tarnwick
