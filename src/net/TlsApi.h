// Run-time binding to the TLS library (OpenSSL's libssl and libcrypto).
// The libraries are loaded by file name on first use, under a lock of their
// own; if no pair of names loads with every function the socket needs, TLS
// is simply unavailable (the caller reports 10043) and nothing is called.
//
// Current library generations (3.x, 1.1) dropped some calls that older
// ones needed: explicit library start-up, screen seeding of the random
// generator and the error-state and table clean-ups. Those are looked up
// optionally; when absent, start-up goes through OPENSSL_init_ssl and the
// clean-ups are left to the library itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tarnwick {

// One candidate pair of library file names, tried in order.
struct TlsLibraryNames {
  std::string ssl;
  std::string crypto;
};

// The key-password callback as the library calls it (C calling convention).
using TlsPasswordCallback = int (*)(char* buffer, int size, int writing, void* data);

struct TlsFunctionTable {
  // Method constructors; any of them may be missing.
  const void* (*TLS_client_method)();
  const void* (*SSLv23_method)();
  const void* (*SSLv2_method)();
  const void* (*SSLv3_method)();
  const void* (*TLSv1_method)();
  // Context and session.
  void* (*SSL_CTX_new)(const void* method);
  void (*SSL_CTX_free)(void* context);
  long (*SSL_CTX_ctrl)(void* context, int command, long value, void* data);  // optional
  int (*SSL_CTX_set_cipher_list)(void* context, const char* list);
  void (*SSL_CTX_set_verify)(void* context, int mode, void* callback);
  void (*SSL_CTX_set_default_passwd_cb)(void* context, TlsPasswordCallback callback);
  void (*SSL_CTX_set_default_passwd_cb_userdata)(void* context, void* data);
  int (*SSL_CTX_use_certificate_chain_file)(void* context, const char* file);
  int (*SSL_CTX_use_PrivateKey_file)(void* context, const char* file, int type);
  int (*SSL_CTX_load_verify_locations)(void* context, const char* file, const char* path);
  void* (*SSL_new)(void* context);
  void (*SSL_free)(void* session);
  int (*SSL_set_fd)(void* session, int fd);
  int (*SSL_connect)(void* session);
  int (*SSL_shutdown)(void* session);
  int (*SSL_read)(void* session, void* buffer, int length);
  int (*SSL_write)(void* session, const void* buffer, int length);
  int (*SSL_get_error)(const void* session, int result);
  int (*SSL_pending)(const void* session);
  // Errors.
  unsigned long (*ERR_get_error)();
  void (*ERR_clear_error)();
  void (*ERR_error_string_n)(unsigned long code, char* buffer, std::size_t size);  // or the next
  char* (*ERR_error_string)(unsigned long code, char* buffer);
  // Start-up and clean-up; all optional.
  int (*SSL_library_init)();
  void (*SSL_load_error_strings)();
  void (*RAND_screen)();
  int (*OPENSSL_init_ssl)(std::uint64_t options, const void* settings);
  void (*EVP_cleanup)();
  void (*CRYPTO_cleanup_all_ex_data)();
  void (*ERR_remove_state)(unsigned long thread);
};

// Values of the library's interface that the socket uses.
constexpr int kTlsFileTypePem = 1;
constexpr int kTlsVerifyNone = 0;
constexpr int kTlsVerifyPeer = 1;
constexpr int kTlsErrorNone = 0;
constexpr int kTlsErrorWantRead = 2;
constexpr int kTlsErrorWantWrite = 3;
constexpr int kTlsErrorZeroReturn = 6;

// The names tried by default: the 3.x names of this platform first, then
// older generations.
std::vector<TlsLibraryNames> DefaultTlsLibraryNames();

// Replaces the candidate names (tests use this to point at libraries that
// do not exist); takes effect at the next load. An empty list restores the
// defaults.
void SetTlsLibraryNames(std::vector<TlsLibraryNames> names);

// Loads the first candidate pair that provides every required function and
// starts the library; true when TLS is (already) available.
bool LoadTlsLibrary();
// Cleans up and frees the libraries; nothing when not loaded.
void UnloadTlsLibrary();
bool TlsLibraryLoaded();

// The bound table; only meaningful after LoadTlsLibrary returned true.
const TlsFunctionTable& TlsApi();

std::mutex& TlsLibraryLock();

// The library writes to the socket with plain writes: on POSIX a peer that
// has gone away would raise SIGPIPE and end the process. Every TLS call that
// may write is made inside one of these scopes, which keeps the signal away
// from this thread and drops one that was raised meanwhile. Nothing on
// Windows.
class TlsCallScope {
 public:
  TlsCallScope();
  ~TlsCallScope();
  TlsCallScope(const TlsCallScope&) = delete;
  TlsCallScope& operator=(const TlsCallScope&) = delete;

 private:
  bool restore_ = false;
  alignas(8) unsigned char saved_[128];
};

namespace detail {
// Platform back end (TlsLibrary_posix.cpp / TlsLibrary_win.cpp).
void* OpenTlsLibrary(const std::string& fileName);
void* FindTlsSymbol(void* library, const char* name);
void CloseTlsLibrary(void* library);
}  // namespace detail

}  // namespace tarnwick
