// Portable part of the TLS binding: candidate names, symbol lookup into the
// function table, start-up and clean-up.
#include "net/TlsApi.h"

#include <cstring>

namespace tarnwick {

namespace {

struct TlsBinding {
  void* ssl = nullptr;
  void* crypto = nullptr;
  TlsFunctionTable table{};
  std::vector<TlsLibraryNames> names;
};

TlsBinding& Binding() {
  static TlsBinding binding;
  return binding;
}

template <typename F>
void Bind(void* library, const char* name, F& slot) {
  slot = reinterpret_cast<F>(detail::FindTlsSymbol(library, name));
}

// Fills the table from one loaded pair; false when something the socket
// cannot do without is missing.
bool FillTable(void* ssl, void* crypto, TlsFunctionTable& t) {
  t = TlsFunctionTable{};
  Bind(ssl, "TLS_client_method", t.TLS_client_method);
  Bind(ssl, "SSLv23_method", t.SSLv23_method);
  Bind(ssl, "SSLv2_method", t.SSLv2_method);
  Bind(ssl, "SSLv3_method", t.SSLv3_method);
  Bind(ssl, "TLSv1_method", t.TLSv1_method);
  Bind(ssl, "SSL_CTX_new", t.SSL_CTX_new);
  Bind(ssl, "SSL_CTX_free", t.SSL_CTX_free);
  Bind(ssl, "SSL_CTX_ctrl", t.SSL_CTX_ctrl);
  Bind(ssl, "SSL_CTX_set_cipher_list", t.SSL_CTX_set_cipher_list);
  Bind(ssl, "SSL_CTX_set_verify", t.SSL_CTX_set_verify);
  Bind(ssl, "SSL_CTX_set_default_passwd_cb", t.SSL_CTX_set_default_passwd_cb);
  Bind(ssl, "SSL_CTX_set_default_passwd_cb_userdata", t.SSL_CTX_set_default_passwd_cb_userdata);
  Bind(ssl, "SSL_CTX_use_certificate_chain_file", t.SSL_CTX_use_certificate_chain_file);
  Bind(ssl, "SSL_CTX_use_PrivateKey_file", t.SSL_CTX_use_PrivateKey_file);
  Bind(ssl, "SSL_CTX_load_verify_locations", t.SSL_CTX_load_verify_locations);
  Bind(ssl, "SSL_new", t.SSL_new);
  Bind(ssl, "SSL_free", t.SSL_free);
  Bind(ssl, "SSL_set_fd", t.SSL_set_fd);
  Bind(ssl, "SSL_connect", t.SSL_connect);
  Bind(ssl, "SSL_shutdown", t.SSL_shutdown);
  Bind(ssl, "SSL_read", t.SSL_read);
  Bind(ssl, "SSL_write", t.SSL_write);
  Bind(ssl, "SSL_get_error", t.SSL_get_error);
  Bind(ssl, "SSL_pending", t.SSL_pending);
  Bind(ssl, "SSL_library_init", t.SSL_library_init);
  Bind(ssl, "SSL_load_error_strings", t.SSL_load_error_strings);
  Bind(ssl, "OPENSSL_init_ssl", t.OPENSSL_init_ssl);
  Bind(crypto, "ERR_get_error", t.ERR_get_error);
  Bind(crypto, "ERR_clear_error", t.ERR_clear_error);
  Bind(crypto, "ERR_error_string_n", t.ERR_error_string_n);
  Bind(crypto, "ERR_error_string", t.ERR_error_string);
  Bind(crypto, "RAND_screen", t.RAND_screen);
  Bind(crypto, "EVP_cleanup", t.EVP_cleanup);
  Bind(crypto, "CRYPTO_cleanup_all_ex_data", t.CRYPTO_cleanup_all_ex_data);
  Bind(crypto, "ERR_remove_state", t.ERR_remove_state);
  const bool anyMethod =
      t.TLS_client_method || t.SSLv23_method || t.SSLv2_method || t.SSLv3_method || t.TLSv1_method;
  const bool errors = t.ERR_get_error && t.ERR_clear_error && (t.ERR_error_string_n || t.ERR_error_string);
  const bool startup = t.SSL_library_init || t.OPENSSL_init_ssl;
  return anyMethod && errors && startup && t.SSL_CTX_new && t.SSL_CTX_free && t.SSL_CTX_set_cipher_list &&
         t.SSL_CTX_set_verify && t.SSL_CTX_set_default_passwd_cb &&
         t.SSL_CTX_set_default_passwd_cb_userdata && t.SSL_CTX_use_certificate_chain_file &&
         t.SSL_CTX_use_PrivateKey_file && t.SSL_CTX_load_verify_locations && t.SSL_new && t.SSL_free &&
         t.SSL_set_fd && t.SSL_connect && t.SSL_shutdown && t.SSL_read && t.SSL_write && t.SSL_get_error &&
         t.SSL_pending;
}

void StartLibrary(const TlsFunctionTable& t) {
  if (t.SSL_library_init) {
    t.SSL_library_init();
    if (t.SSL_load_error_strings) t.SSL_load_error_strings();
  } else {
    // Error strings of both libraries; everything else starts on demand.
    constexpr std::uint64_t kLoadCryptoStrings = 0x00000002;
    constexpr std::uint64_t kLoadSslStrings = 0x00200000;
    t.OPENSSL_init_ssl(kLoadCryptoStrings | kLoadSslStrings, nullptr);
  }
  if (t.RAND_screen) t.RAND_screen();
}

}  // namespace

std::mutex& TlsLibraryLock() {
  static std::mutex lock;
  return lock;
}

void SetTlsLibraryNames(std::vector<TlsLibraryNames> names) {
  std::lock_guard<std::mutex> hold(TlsLibraryLock());
  Binding().names = std::move(names);
}

bool LoadTlsLibrary() {
  std::lock_guard<std::mutex> hold(TlsLibraryLock());
  TlsBinding& b = Binding();
  if (b.ssl) return true;
  const std::vector<TlsLibraryNames> candidates = b.names.empty() ? DefaultTlsLibraryNames() : b.names;
  for (const TlsLibraryNames& pair : candidates) {
    void* ssl = detail::OpenTlsLibrary(pair.ssl);
    void* crypto = ssl ? detail::OpenTlsLibrary(pair.crypto) : nullptr;
    if (ssl && crypto && FillTable(ssl, crypto, b.table)) {
      b.ssl = ssl;
      b.crypto = crypto;
      StartLibrary(b.table);
      return true;
    }
    // Both or neither: a half-loaded pair is given back at once.
    if (crypto) detail::CloseTlsLibrary(crypto);
    if (ssl) detail::CloseTlsLibrary(ssl);
  }
  b.table = TlsFunctionTable{};
  return false;
}

void UnloadTlsLibrary() {
  std::lock_guard<std::mutex> hold(TlsLibraryLock());
  TlsBinding& b = Binding();
  if (!b.ssl) return;
  const TlsFunctionTable& t = b.table;
  if (t.EVP_cleanup) t.EVP_cleanup();
  if (t.CRYPTO_cleanup_all_ex_data) t.CRYPTO_cleanup_all_ex_data();
  if (t.ERR_remove_state) t.ERR_remove_state(0);
  detail::CloseTlsLibrary(b.crypto);
  detail::CloseTlsLibrary(b.ssl);
  b.ssl = nullptr;
  b.crypto = nullptr;
  b.table = TlsFunctionTable{};
}

bool TlsLibraryLoaded() {
  std::lock_guard<std::mutex> hold(TlsLibraryLock());
  return Binding().ssl != nullptr;
}

const TlsFunctionTable& TlsApi() { return Binding().table; }

}  // namespace tarnwick
