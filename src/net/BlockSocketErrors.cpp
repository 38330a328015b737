// Outcome recording, status events and queued socket options of
// TBlockSocket.
#include <cstring>
#include <string>

#include "net/BlockSocket.h"
#include "net/SocketError.h"

namespace tarnwick {

void TBlockSocket::ReportStatus(SocketStatusReason reason, const std::string& text) {
  if (StatusHandler) StatusHandler(*this, reason, text);
}

int TBlockSocket::RecordCallResult(int result) {
  LastSocketErrorText.clear();
  int code = 0;
  if (result == -1) {
    code = SocketLastError();
    LastSocketErrorText = GetErrorDesc(code);
  }
  LastSocketError = code;
  return code;
}

void TBlockSocket::CheckAndReport() {
  LastSocketErrorText = GetErrorDesc(LastSocketError);
  // "Would block" and "in progress" are the normal state of a non-blocking
  // socket, not failures worth an event.
  if (LastSocketError == 0 || LastSocketError == kErrorWouldBlock || LastSocketError == kErrorInProgress) {
    return;
  }
  ReportStatus(StatusError, std::to_string(LastSocketError) + "," + LastSocketErrorText);
  if (RaiseOnError) {
    throw ESocketError("TCP/IP Socket error " + std::to_string(LastSocketError) + ": " + LastSocketErrorText,
                       LastSocketError, LastSocketErrorText);
  }
}

void TBlockSocket::QueueOption(SocketOptionKind kind, bool enabled, std::int32_t value) {
  PendingOptions.push_back(SocketOption{kind, enabled, value});
}

void TBlockSocket::ApplyPendingOptions() {
  for (auto it = PendingOptions.rbegin(); it != PendingOptions.rend(); ++it) ApplyOption(*it);
  PendingOptions.clear();
}

void TBlockSocket::ApplyOption(const SocketOption& option) {
  SocketFunctionTable& api = SocketApi();
  const int socketLevel = 0xFFFF;
  const std::int32_t flag = option.enabled ? 1 : 0;
  auto set = [&](int level, int name, std::int32_t value) {
    api.setsockopt(Handle, level, name, reinterpret_cast<const char*>(&value), sizeof(value));
  };
  // Hop limits live at the IPv6 level on an IPv6 handle. Its unicast hop
  // limit is option 4 there, as the IPv4 time to live is at its own level.
  const int ipLevel = UsesIPv6 ? 41 : 0;
  switch (option.kind) {
    case OptionLinger: {
      std::uint16_t pair[2] = {static_cast<std::uint16_t>(flag),
                               static_cast<std::uint16_t>(option.value / 1000)};
      api.setsockopt(Handle, socketLevel, 0x80, reinterpret_cast<const char*>(pair), sizeof(pair));
      break;
    }
    case OptionReceiveBuffer:
      set(socketLevel, 0x1002, option.value);
      break;
    case OptionSendBuffer:
      set(socketLevel, 0x1001, option.value);
      break;
    case OptionNonBlocking: {
      std::uint32_t argument = static_cast<std::uint32_t>(flag);
      api.ioctlsocket(Handle, static_cast<std::int32_t>(kIoctlNonBlocking), &argument);
      NonBlocking = option.enabled;
      break;
    }
    case OptionReceiveTimeout:
      set(socketLevel, 0x1006, option.value);
      break;
    case OptionSendTimeout:
      set(socketLevel, 0x1005, option.value);
      break;
    case OptionReuseAddress:
      set(socketLevel, 4, flag);
      break;
    case OptionTimeToLive:
      set(ipLevel, 4, option.value);
      break;
    case OptionBroadcast:
      set(socketLevel, 0x20, flag);
      break;
    case OptionMulticastTimeToLive:
      set(ipLevel, 10, option.value);
      break;
    case OptionMulticastLoop:
      set(ipLevel, 11, flag);
      break;
  }
}

}  // namespace tarnwick
