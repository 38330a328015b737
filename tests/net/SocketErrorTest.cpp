// Error descriptions, outcome recording and the optional exception.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/BlockSocket.h"
#include "net/SocketError.h"
#include "net/UdpBlockSocket.h"

namespace tarnwick {
namespace {

TEST(ErrorText, TableAndFallback) {
  struct Row {
    int code;
    const char* text;
  } rows[] = {
      {0, ""},
      {10004, "Interrupted system call"},
      {10035, "Operation would block"},
      {10054, "Connection reset by peer"},
      {10055, "No Buffer space available"},
      {10059, "Too many references:can't splice"},
      {10060, "Connection timed out"},
      {10071, "Too many levels of remote in path"},
      {10093, "Winsock not initialized"},
      {10101, "Disconnect"},
      {11001, "Host not found"},
      {11004, "Valid name, no data record of requested type"},
      {12345, "Not a Winsock error (12345)"},
      {-1, "Not a Winsock error (-1)"},
      {10003, "Not a Winsock error (10003)"},
      {10072, "Not a Winsock error (10072)"},
      {11005, "Not a Winsock error (11005)"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.code);
    EXPECT_EQ(GetErrorDesc(r.code), r.text);
  }
}

class RecordingSocket : public TBlockSocket {
 public:
  RecordingSocket() {
    StatusHandler = [this](TBlockSocket&, SocketStatusReason reason, const std::string& text) {
      reports.push_back({reason, text});
    };
  }
  // The base destructor reports its close; the list is gone by then.
  ~RecordingSocket() override { StatusHandler = nullptr; }
  struct Report {
    SocketStatusReason reason;
    std::string text;
  };
  std::vector<Report> reports;
};

TEST(ErrorReporting, QuietCodesAreStoredButNotReported) {
  for (int code : {0, 10035, 10036}) {
    SCOPED_TRACE(code);
    RecordingSocket s;
    s.RaiseOnError = true;
    s.LastSocketError = code;
    EXPECT_NO_THROW(s.CheckAndReport());
    EXPECT_TRUE(s.reports.empty());
    EXPECT_EQ(s.LastSocketErrorText, GetErrorDesc(code));
  }
}

TEST(ErrorReporting, ReportAndOptionalRaise) {
  RecordingSocket s;
  s.LastSocketError = 10060;
  s.CheckAndReport();
  ASSERT_EQ(s.reports.size(), 1u);
  EXPECT_EQ(s.reports[0].reason, StatusError);
  EXPECT_EQ(s.reports[0].text, "10060,Connection timed out");

  s.RaiseOnError = true;
  s.LastSocketError = 10061;
  try {
    s.CheckAndReport();
    ADD_FAILURE() << "expected ESocketError";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.ErrorNumber, 10061);
    EXPECT_EQ(e.ErrorText, "Connection refused");
    EXPECT_STREQ(e.what(), "TCP/IP Socket error 10061: Connection refused");
    EXPECT_EQ(e.ClassName(), "ESocketError");
  }
  ASSERT_EQ(s.reports.size(), 2u) << "the report comes before the exception";
  EXPECT_EQ(s.reports[1].text, "10061,Connection refused");
}

TEST(ErrorReporting, RecordCallResultOnlyMinusOneFails) {
  RecordingSocket s;
  for (int result : {0, 1, 512, 65536}) {
    SCOPED_TRACE(result);
    s.LastSocketError = 99;
    EXPECT_EQ(s.RecordCallResult(result), 0);
    EXPECT_EQ(s.LastSocketError, 0);
    EXPECT_EQ(s.LastSocketErrorText, "");
  }
  // A real failure: a receive on no socket at all.
  int r = SocketApi().recv(kNoSocket, nullptr, 0, 0);
  ASSERT_EQ(r, -1);
  int code = s.RecordCallResult(r);
  EXPECT_NE(code, 0);
  EXPECT_EQ(s.LastSocketError, code);
  EXPECT_EQ(s.LastSocketErrorText, GetErrorDesc(code));
  EXPECT_TRUE(s.reports.empty()) << "recording alone reports nothing";
}

TEST(ErrorReporting, RaisedTimeoutKeepsAccumulatedBytes) {
  TUDPBlockSocket s;
  s.ConnectTo("127.0.0.1", "9");  // nothing is sent, nothing arrives
  ASSERT_NE(s.Handle, kNoSocket);
  s.RaiseOnError = true;
  s.PendingInput = "partial line";
  EXPECT_THROW(s.ReceiveUntil(50, "\r\n"), ESocketError);
  EXPECT_EQ(s.LastSocketError, 10060);
  EXPECT_EQ(s.PendingInput, "partial line") << "bytes read before the error stay available";

  char buffer[20] = {0};
  s.PendingInput = "0123";
  EXPECT_THROW(s.ReceiveExactly(buffer, 10, 50), ESocketError);
  EXPECT_EQ(s.PendingInput, "0123");
}

}  // namespace
}  // namespace tarnwick
