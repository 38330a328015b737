// TBlockSocket: one object around at most one system socket, with blocking
// operations that leave their outcome in LastSocketError instead of
// returning error codes. The core (handle, resolution, bind, connect,
// addresses) is in BlockSocket.cpp, sending/receiving/waiting in
// BlockSocketIo.cpp, error recording in BlockSocketErrors.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "net/SocketAddress.h"
#include "net/SocketApi.h"

namespace tarnwick {

enum SocketStatusReason : int {
  StatusResolving = 0,
  StatusResolved = 1,
  StatusCreated = 2,
  StatusClosed = 3,
  StatusBound = 4,
  StatusConnected = 5,
  StatusReadable = 6,
  StatusListening = 8,
  StatusReceived = 10,
  StatusSent = 11,
  StatusThrottled = 12,
  StatusError = 13,
};

// The longest wait the bandwidth limiter schedules after one transfer (ten
// minutes). A next tick further ahead than this cannot be one of its own:
// it is left from a transfer so long ago that the 32-bit tick count has
// come round to it again, and is not waited for.
constexpr std::uint32_t kLongestThrottleWaitMs = 10 * 60 * 1000;

// Most bytes a TCP close reads and throws away before it closes anyway
// (1 MiB: on a slow link this is seconds of data, on loopback a moment).
constexpr std::size_t kCloseDiscardLimit = 1u << 20;

// Most bytes one stream receive takes from the system (and so the most that
// one ReceiveChunk of a stream socket hands out beyond PendingInput).
constexpr int kLargestStreamChunk = 65536;

enum AddressFamilyChoice : int { FamilyAny = 0, FamilyIPv4 = 1, FamilyIPv6 = 2 };

enum SocketOptionKind : std::uint8_t {
  OptionLinger = 0,
  OptionReceiveBuffer = 1,
  OptionSendBuffer = 2,
  OptionNonBlocking = 3,
  OptionReceiveTimeout = 4,
  OptionSendTimeout = 5,
  OptionReuseAddress = 6,
  OptionTimeToLive = 7,
  OptionBroadcast = 8,
  OptionMulticastTimeToLive = 9,
  OptionMulticastLoop = 10,
};

struct SocketOption {
  SocketOptionKind kind;
  bool enabled;
  std::int32_t value;
};

class TBlockSocket;
using SocketStatusEvent =
    std::function<void(TBlockSocket& sender, SocketStatusReason reason, const std::string& text)>;
using SocketFilterEvent = std::function<void(TBlockSocket& sender, std::string& bytes)>;
using SocketCreatedEvent = std::function<void(TBlockSocket& sender)>;

class TBlockSocket {
 public:
  TBlockSocket();
  virtual ~TBlockSocket();
  TBlockSocket(const TBlockSocket&) = delete;
  TBlockSocket& operator=(const TBlockSocket&) = delete;

  // Fields, in their documented order.
  SocketStatusEvent StatusHandler;
  SocketFilterEvent ReadFilterHandler;
  SocketFilterEvent WriteFilterHandler;
  SocketCreatedEvent SocketCreatedHandler;
  SocketServiceRecord ServiceInfo;
  SocketAddress LocalAddress;
  SocketAddress RemoteAddress;
  std::string PendingInput;
  bool RaiseOnError = false;
  bool NonBlocking = false;
  std::int32_t LineLengthLimit = 0;
  std::int32_t SendRateLimit = 0;
  std::uint32_t NextSendTick = 0;
  std::int32_t ReceiveRateLimit = 0;
  std::uint32_t NextReceiveTick = 0;
  bool AnyLineEnd = false;
  bool SawBareCR = false;
  bool SawBareLF = false;
  bool IsBound = false;
  AddressFamilyChoice AddressFamily = FamilyAny;
  AddressFamilyChoice DefaultAddressFamily = FamilyAny;
  bool UsesIPv6 = false;
  bool FavourIPv4 = true;
  std::vector<SocketOption> PendingOptions;
  bool TimeoutPerChunk = true;
  tarnwick::DescriptorSet DescriptorSet;  // the own handle, for WaitReadable
  SocketHandle Handle = kNoSocket;
  int LastSocketError = 0;
  std::string LastSocketErrorText;

  // Virtual operations, in slot order.
  virtual void SetAddressFamily(AddressFamilyChoice family);
  virtual void AttachHandle(SocketHandle handle);
  virtual void CloseEndpoint();
  virtual void ConnectTo(const std::string& host, const std::string& port);
  virtual int SendData(const void* buffer, int length);
  virtual int SendOctet(std::uint8_t value);
  virtual int SendText(const std::string& bytes);
  virtual int SendCountedText(const std::string& bytes);
  virtual void SendStreamData(std::istream& stream);
  virtual int ReceiveData(void* buffer, int length);
  virtual int ReceiveExactly(void* buffer, int length, int timeout);
  virtual std::string ReceiveText(int length, int timeout);
  virtual std::uint8_t ReceiveOctet(int timeout);
  virtual std::string ReceiveLine(int timeout);
  virtual std::string ReceiveUntil(int timeout, const std::string& terminator);
  virtual std::string ReceiveChunk(int timeout);
  virtual std::string ReceiveCountedText(int timeout);
  virtual void ReceiveStreamData(std::ostream& stream, int timeout);
  virtual int PeekData(void* buffer, int length);
  virtual std::uint8_t PeekOctet(int timeout);
  virtual int PendingByteCount();
  virtual std::string LocalAddressText();
  virtual std::string RemoteAddressText();
  virtual std::uint16_t LocalPortNumber();
  virtual std::uint16_t RemotePortNumber();
  virtual int SendDataTo(const void* buffer, int length);
  virtual int ReceiveDataFrom(void* buffer, int length);
  virtual int SocketKind();
  virtual int SocketProtocolNumber();

  // Handle, resolution and addresses.
  void BindTo(const std::string& host, const std::string& port);
  void OpenForHost(const std::string& host);
  void OpenForAddress(const SocketAddress& address);
  void FillAddress(SocketAddress& address, const std::string& host, const std::string& port);
  void SetPeer(const std::string& host, const std::string& port);
  std::string AddressText(const SocketAddress& address);
  std::uint16_t AddressPort(const SocketAddress& address);
  void ReadLocalAddress();
  void ReadRemoteAddress();
  void ReadBothAddresses();
  void LookupHost(const std::string& name, std::vector<std::string>& list);
  std::string LookupFirstAddress(const std::string& name);
  std::uint16_t LookupPort(const std::string& port);
  std::string LocalHostName();
  void ParseIPv6Literal(const std::string& text, SocketAddress& address);
  std::string IPv6AddressText(const SocketAddress& address);

  // Options queued for the next handle creation (applied last first).
  void QueueOption(SocketOptionKind kind, bool enabled, std::int32_t value);

  // ReceiveChunk into the caller's string, reusing its capacity: the same
  // outcome, status events and PendingInput handling, without a fresh
  // string per chunk. Loops that receive many chunks keep one buffer.
  // ReceiveChunk is built on it; a class that overrides ReceiveChunk does
  // not change what this one does.
  void ReceiveChunkInto(int timeout, std::string& chunk);

  // I/O support.
  bool WaitReadable(int timeout);
  void DiscardInput();
  // The same, giving up once more than `limit` bytes have been thrown away.
  void DiscardInput(std::size_t limit);
  void FilterIncoming(void* buffer, int& length);
  void FilterOutgoing(const void*& buffer, int& length);
  void ThrottleTransfer(int length, std::int32_t limit, std::uint32_t& nextTick);

  // Errors.
  int RecordCallResult(int result);
  void CheckAndReport();
  void ReportStatus(SocketStatusReason reason, const std::string& text);

 protected:
  // Set by a derived destructor that has closed the socket its own way, so
  // that the base destructor neither closes again nor reports StatusClosed
  // a second time.
  bool closedByDerived_ = false;
  bool UseEnhancedResolver() const;
  void ApplyPendingOptions();
  void ApplyOption(const SocketOption& option);

 private:
  void FillAddressEnhanced(SocketAddress& address, const std::string& host, const std::string& port);
  void FillAddressLegacy(SocketAddress& address, const std::string& host, const std::string& port);
  void ReceiveDatagramChunk(int timeout, std::string& chunk);
  void ReceiveStreamChunk(int n, std::string& chunk);
  void ForgetHandleState();

  // Reused by every datagram receive so that a chunk costs no allocation
  // beyond the string handed out; sized for the largest datagram.
  std::vector<char> datagramBuffer_;
  // Writable staging for the write filter.
  std::string filteredOutgoing_;

  // What is known about the open handle without asking the system again.
  // A handle that OpenForAddress created and that has never been connected
  // at system level has no peer, so its peer lookup can only fail; its
  // local address is fixed once the system has bound it (first send or
  // BindTo) and is kept here from then on. Handles attached from outside
  // and stream sockets that connect are always asked.
  // Handle is a public field: the knowledge holds only for the handle it was
  // gathered on.
  SocketHandle knownHandle_ = kNoSocket;
  bool handleNeverConnected_ = false;
  bool localAddressKnown_ = false;
  SocketAddress knownLocalAddress_{};
  bool KnownHandle() const { return Handle != kNoSocket && Handle == knownHandle_; }
};

}  // namespace tarnwick
