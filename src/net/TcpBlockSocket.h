// TTCPBlockSocket: a stream socket that connects directly, through a SOCKS
// proxy or through an HTTP "CONNECT" tunnel, listens directly or by a SOCKS
// bind, and can run TLS over its connection through the TLS library bound
// at run time. Connect, listen, close and the address queries are in
// TcpBlockSocket.cpp, the tunnel in TcpTunnel.cpp, TLS in TcpTls.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "net/SocksBlockSocket.h"

namespace tarnwick {

class TTCPBlockSocket : public TSocksBlockSocket {
 public:
  TTCPBlockSocket() = default;
  ~TTCPBlockSocket() override;

  bool TlsOn = false;      // a TLS context and session exist
  bool TlsBypass = false;  // send and receive skip TLS even when on
  void* TlsSession = nullptr;
  void* TlsContext = nullptr;
  std::string TlsKeyPassword;
  std::string TlsCipherList = "DEFAULT";
  std::string TlsCertificateFile;
  std::string TlsKeyFile;
  std::string TlsAuthorityFile;
  std::uint32_t TlsErrorCode = 0;
  std::string TlsErrorText;
  bool TlsVerifyPeer = false;
  // 0 = SSL 2, 1 = SSL 3, 2 = TLS 1.0, 3 = whatever the library negotiates.
  // A library that no longer speaks the version asked for has no method for
  // it, and the context cannot be created (10043) rather than quietly
  // running another version.
  std::uint8_t TlsMethod = 3;
  std::string TunnelHost;  // HTTP proxy; empty = no tunnel
  std::string TunnelPort;
  bool TunnelUp = false;  // the last CONNECT got a 2xx status
  std::string TunnelPeerHost;
  std::string TunnelPeerPort;
  std::string TunnelLogin;  // non-empty adds Basic authorisation
  std::string TunnelLoginPassword;
  std::int32_t TunnelReplyTimeout = 30000;

  void CloseEndpoint() override;
  void ConnectTo(const std::string& host, const std::string& port) override;
  int SendData(const void* buffer, int length) override;
  int ReceiveData(void* buffer, int length) override;
  int PendingByteCount() override;
  std::string LocalAddressText() override;
  std::string RemoteAddressText() override;
  std::uint16_t LocalPortNumber() override;
  std::uint16_t RemotePortNumber() override;
  int SocketKind() override { return 1; }
  int SocketProtocolNumber() override { return 6; }
  virtual void OpenListener();

  void SetTlsState(bool on);
  void StartTls();
  void StopTls();

 private:
  void ConnectThroughSocks(const std::string& host, const std::string& port);
  void ConnectThroughTunnel(const std::string& host, const std::string& port);
  bool TlsActiveForIo() const { return TlsOn && !TlsBypass && !SocksNegotiating; }
  void RecordTlsError();
  bool CreateTlsContext();
  void FreeTlsObjects();
  static int KeyPasswordCallback(char* buffer, int size, int writing, void* data);
};

}  // namespace tarnwick
