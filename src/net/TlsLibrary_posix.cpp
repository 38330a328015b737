// POSIX back end of the TLS binding: dlopen by file name, and the SIGPIPE
// shield around library calls that write to a socket.
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <cstring>

#include "net/TlsApi.h"

namespace tarnwick {

static_assert(sizeof(sigset_t) <= 128, "the saved signal mask fits the scope's storage");

std::vector<TlsLibraryNames> DefaultTlsLibraryNames() {
  return {
      {"libssl.so.3", "libcrypto.so.3"},
      {"libssl.so.1.1", "libcrypto.so.1.1"},
      {"libssl.so.1.0.0", "libcrypto.so.1.0.0"},
      {"libssl.so", "libcrypto.so"},
  };
}

namespace detail {

void* OpenTlsLibrary(const std::string& fileName) {
  if (fileName.empty()) return nullptr;
  return dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindTlsSymbol(void* library, const char* name) { return library ? dlsym(library, name) : nullptr; }

void CloseTlsLibrary(void* library) {
  if (library) dlclose(library);
}

}  // namespace detail

TlsCallScope::TlsCallScope() {
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGPIPE);
  sigset_t previous;
  if (pthread_sigmask(SIG_BLOCK, &block, &previous) == 0) {
    std::memcpy(saved_, &previous, sizeof(previous));
    restore_ = true;
  }
}

TlsCallScope::~TlsCallScope() {
  if (!restore_) return;
  sigset_t previous;
  std::memcpy(&previous, saved_, sizeof(previous));
  // A SIGPIPE raised inside the scope is pending now; take it before the
  // old mask comes back, unless it was blocked (and so pending) already.
  if (!sigismember(&previous, SIGPIPE)) {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE)) {
      const timespec none{0, 0};
      sigtimedwait(&pipe, nullptr, &none);
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace tarnwick
