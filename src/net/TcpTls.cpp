// TLS over the connection of TTCPBlockSocket: context and session life,
// handshake and shutdown, and the encrypted send/receive paths. TLS stays
// out of the way while a proxy exchange runs (SocksNegotiating) or when
// TlsBypass is set; then the plain stream operations apply.
#include <algorithm>
#include <cstring>

#include "net/SocketError.h"
#include "net/TcpBlockSocket.h"
#include "net/TlsApi.h"

namespace tarnwick {

namespace {

constexpr int kInvalidArgument = 10022;
constexpr int kSocketTypeUnsupported = 10043;
// The library's controls that pin the lowest and highest protocol version.
constexpr int kControlMinimumVersion = 123;
constexpr int kControlMaximumVersion = 124;
constexpr long kVersionTls10 = 0x0301;
// How long a shutdown waits for the peer's own close notice. The library
// would wait without end on a blocking socket whose peer never answers,
// and a close must not hang.
constexpr int kCloseNoticeWait = 2000;

// One read or write, called again for as long as the library asks for it.
// The count, 0 when the peer closed the session, or kTlsCallFailed.
constexpr int kTlsCallFailed = -1;
template <typename Call>
int RetryTlsCall(const TlsFunctionTable& t, void* session, Call call) {
  for (;;) {
    const int result = call();
    const int why = t.SSL_get_error(session, result);
    if (why == kTlsErrorWantRead || why == kTlsErrorWantWrite) continue;
    if (why == kTlsErrorZeroReturn) return 0;
    return why == kTlsErrorNone ? result : kTlsCallFailed;
  }
}

// The method for TlsMethod; null when the library cannot speak that version.
void* NewContext(const TlsFunctionTable& t, std::uint8_t method) {
  switch (method) {
    case 0:
      return t.SSLv2_method && t.SSLv2_method() ? t.SSL_CTX_new(t.SSLv2_method()) : nullptr;
    case 1:
      return t.SSLv3_method && t.SSLv3_method() ? t.SSL_CTX_new(t.SSLv3_method()) : nullptr;
    case 2: {
      // Current libraries have one flexible method; pin it to TLS 1.0.
      if (t.TLS_client_method && t.SSL_CTX_ctrl) {
        void* context = t.SSL_CTX_new(t.TLS_client_method());
        if (context) {
          t.SSL_CTX_ctrl(context, kControlMinimumVersion, kVersionTls10, nullptr);
          t.SSL_CTX_ctrl(context, kControlMaximumVersion, kVersionTls10, nullptr);
        }
        return context;
      }
      return t.TLSv1_method ? t.SSL_CTX_new(t.TLSv1_method()) : nullptr;
    }
    default: {
      const void* (*any)() = t.TLS_client_method ? t.TLS_client_method : t.SSLv23_method;
      return any ? t.SSL_CTX_new(any()) : nullptr;
    }
  }
}

}  // namespace

int TTCPBlockSocket::KeyPasswordCallback(char* buffer, int size, int, void* data) {
  if (buffer == nullptr || size <= 0 || data == nullptr) return 0;
  const std::string& password = static_cast<TTCPBlockSocket*>(data)->TlsKeyPassword;
  const std::size_t length = std::min(password.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, password.data(), length);
  buffer[length] = '\0';
  return static_cast<int>(length);
}

void TTCPBlockSocket::RecordTlsError() {
  const TlsFunctionTable& t = TlsApi();
  if (!t.ERR_get_error) return;
  const unsigned long code = t.ERR_get_error();
  t.ERR_clear_error();
  TlsErrorCode = static_cast<std::uint32_t>(code);
  if (code == 0) return;
  char text[256] = {0};
  if (t.ERR_error_string_n)
    t.ERR_error_string_n(code, text, sizeof(text));
  else
    t.ERR_error_string(code, text);
  text[sizeof(text) - 1] = '\0';
  TlsErrorText = text;
}

// Creates context and session; on failure records the cause and gives back
// whatever was already created, so that a retry starts clean.
bool TTCPBlockSocket::CreateTlsContext() {
  if (!LoadTlsLibrary()) {
    LastSocketError = kSocketTypeUnsupported;
    return false;
  }
  const TlsFunctionTable& t = TlsApi();
  TlsContext = NewContext(t, TlsMethod);
  if (!TlsContext) {
    RecordTlsError();
    LastSocketError = kSocketTypeUnsupported;
    return false;
  }
  t.SSL_CTX_set_cipher_list(TlsContext, TlsCipherList.c_str());
  t.SSL_CTX_set_verify(TlsContext, TlsVerifyPeer ? kTlsVerifyPeer : kTlsVerifyNone, nullptr);
  t.SSL_CTX_set_default_passwd_cb(TlsContext, &TTCPBlockSocket::KeyPasswordCallback);
  t.SSL_CTX_set_default_passwd_cb_userdata(TlsContext, this);
  bool keys = true;
  if (!TlsCertificateFile.empty()) {
    keys = t.SSL_CTX_use_certificate_chain_file(TlsContext, TlsCertificateFile.c_str()) == 1;
  }
  if (keys && !TlsKeyFile.empty()) {
    keys = t.SSL_CTX_use_PrivateKey_file(TlsContext, TlsKeyFile.c_str(), kTlsFileTypePem) == 1;
  }
  if (keys && !TlsAuthorityFile.empty()) {
    keys = t.SSL_CTX_load_verify_locations(TlsContext, TlsAuthorityFile.c_str(), nullptr) == 1;
  }
  if (!keys) {
    RecordTlsError();
    LastSocketError = kInvalidArgument;
    FreeTlsObjects();
    return false;
  }
  TlsSession = t.SSL_new(TlsContext);
  if (!TlsSession) {
    RecordTlsError();
    LastSocketError = kSocketTypeUnsupported;
    FreeTlsObjects();
    return false;
  }
  return true;
}

void TTCPBlockSocket::FreeTlsObjects() {
  if (!TlsSession && !TlsContext) return;
  const TlsFunctionTable& t = TlsApi();
  if (TlsSession) t.SSL_free(TlsSession);
  if (TlsContext) t.SSL_CTX_free(TlsContext);
  if (t.ERR_remove_state) t.ERR_remove_state(0);
  TlsSession = nullptr;
  TlsContext = nullptr;
}

void TTCPBlockSocket::SetTlsState(bool on) {
  LastSocketError = 0;
  if (on == TlsOn) {
    CheckAndReport();
    return;
  }
  PendingInput.clear();
  if (on) {
    TlsErrorText.clear();
    TlsErrorCode = 0;
    TlsOn = CreateTlsContext();
  } else {
    FreeTlsObjects();
    TlsOn = false;
  }
  CheckAndReport();
}

void TTCPBlockSocket::StartTls() {
  LastSocketError = 0;
  if (!TlsOn) SetTlsState(true);
  if (LastSocketError == 0 && TlsOn) {
    const TlsFunctionTable& t = TlsApi();
    TlsCallScope shield;
    if (t.SSL_set_fd(TlsSession, static_cast<int>(Handle)) <= 0 || t.SSL_connect(TlsSession) <= 0) {
      RecordTlsError();
      LastSocketError = kErrorSubsystemUnusable;
    }
  }
  if (LastSocketError != 0) {
    const int code = LastSocketError;
    SetTlsState(false);
    LastSocketError = code;
  }
  CheckAndReport();
}

void TTCPBlockSocket::StopTls() {
  if (TlsOn && TlsSession) {
    const TlsFunctionTable& t = TlsApi();
    TlsCallScope shield;
    if (t.SSL_shutdown(TlsSession) == 0 && Handle != kNoSocket) {
      const bool raise = RaiseOnError;
      RaiseOnError = false;
      const bool answered = WaitReadable(kCloseNoticeWait);
      RaiseOnError = raise;
      if (answered) t.SSL_shutdown(TlsSession);
    }
    t.ERR_clear_error();
  }
  SetTlsState(false);
}

int TTCPBlockSocket::ReceiveData(void* buffer, int length) {
  if (!TlsActiveForIo()) return TSocksBlockSocket::ReceiveData(buffer, length);
  LastSocketError = 0;
  int result = 0;
  if (length > 0) {
    const TlsFunctionTable& t = TlsApi();
    TlsCallScope shield;
    result = RetryTlsCall(t, TlsSession, [&] { return t.SSL_read(TlsSession, buffer, length); });
    if (result == kTlsCallFailed) {
      RecordTlsError();
      LastSocketError = kErrorSubsystemUnusable;
    }
  }
  CheckAndReport();
  ReportStatus(StatusReceived, std::to_string(result));
  if (result > 0) FilterIncoming(buffer, result);
  return result;
}

int TTCPBlockSocket::SendData(const void* buffer, int length) {
  if (!TlsActiveForIo()) return TSocksBlockSocket::SendData(buffer, length);
  LastSocketError = 0;
  FilterOutgoing(buffer, length);
  int result = 0;
  if (length > 0) {
    const TlsFunctionTable& t = TlsApi();
    TlsCallScope shield;
    result = RetryTlsCall(t, TlsSession, [&] { return t.SSL_write(TlsSession, buffer, length); });
    if (result == kTlsCallFailed) {
      RecordTlsError();
      LastSocketError = kErrorSubsystemUnusable;
    }
  }
  CheckAndReport();
  ReportStatus(StatusSent, std::to_string(result));
  return result;
}

int TTCPBlockSocket::PendingByteCount() {
  if (TlsActiveForIo()) {
    const int buffered = TlsApi().SSL_pending(TlsSession);
    if (buffered > 0) return buffered;
  }
  return TSocksBlockSocket::PendingByteCount();
}

}  // namespace tarnwick
