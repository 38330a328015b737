// The main window with the real engine: a small TFTP peer on 127.0.0.1 in a
// thread of the test, the save and open dialogs answered from a timer as a
// user would, the local file checked afterwards.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "ThreadWindows.h"
#include "app/ControlIds.h"
#include "app/MainForm.h"
#include "base/TextCodec.h"
#include "net/SocketApi.h"
#include "ui/Application.h"

namespace tarnwick {
namespace {

// One-shot TFTP peer: answers a read request with `content` (one block) or
// takes a write request's single block. Every wait is bounded.
class Peer {
 public:
  explicit Peer(std::string content, std::function<std::string(std::string)> errorFor = nullptr)
      : content_(std::move(content)), errorFor_(std::move(errorFor)) {
    sock_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(sock_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    int len = sizeof(addr);
    ::getsockname(sock_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    DWORD timeout = 8000;
    ::setsockopt(sock_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    thread_ = std::thread([this] { Serve(); });
  }
  ~Peer() {
    ::closesocket(sock_);
    thread_.join();
  }
  int port() const { return port_; }
  std::string request;   // the request packet as received
  std::string received;  // a write request's data

 private:
  void Serve() {
    char buf[1024];
    sockaddr_in from{};
    int fromLen = sizeof(from);
    int n = ::recvfrom(sock_, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 4) return;
    request.assign(buf, static_cast<std::size_t>(n));
    auto send = [&](const std::string& p) {
      ::sendto(sock_, p.data(), static_cast<int>(p.size()), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
    };
    if (buf[1] == 1 && errorFor_) {  // RRQ refused, echoing the name as devices do
      send(std::string("\0\5\0\1", 4) + errorFor_(request.c_str() + 2) + std::string(1, '\0'));
    } else if (buf[1] == 1) {  // RRQ: one short block, then its ACK
      send(std::string("\0\3\0\1", 4) + content_);
      ::recvfrom(sock_, buf, sizeof(buf), 0, nullptr, nullptr);
    } else if (buf[1] == 2) {  // WRQ: ACK 0, one block, ACK 1
      send(std::string("\0\4\0\0", 4));
      n = ::recvfrom(sock_, buf, sizeof(buf), 0, nullptr, nullptr);
      if (n >= 4) received.assign(buf + 4, static_cast<std::size_t>(n - 4));
      send(std::string("\0\4\0\1", 4));
    }
  }
  std::string content_;
  std::function<std::string(std::string)> errorFor_;  // set: ERROR 1, its text made of the name read
  SOCKET sock_;
  int port_ = 0;
  std::thread thread_;
};

// Answers the first dialog titled `title` once it shows: puts `path` into
// its file-name box and presses OK.
class DialogAnswer {
 public:
  DialogAnswer(const wchar_t* title, std::wstring path) : title_(title), path_(std::move(path)) {
    current_ = this;
    id_ = ::SetTimer(nullptr, 0, 100, &DialogAnswer::Tick);
  }
  ~DialogAnswer() {
    ::KillTimer(nullptr, id_);
    current_ = nullptr;
  }
  bool answered = false;
  std::wstring proposed;

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    DialogAnswer* self = current_;
    if (self == nullptr || self->answered) return;
    HWND dialog = testing_support::FindThreadWindow(self->title_);
    if (dialog == nullptr || !::IsWindowVisible(dialog)) return;
    // The explorer-style dialogs keep the name in combo box 0x47C (with an
    // edit inside) or, in older layouts, edit 0x480.
    HWND box = ::GetDlgItem(dialog, 0x47C);
    if (box == nullptr) box = ::GetDlgItem(dialog, 0x480);
    if (box == nullptr) return;
    wchar_t text[512] = {};
    ::GetWindowTextW(box, text, 512);
    self->proposed = text;
    ::SetWindowTextW(box, self->path_.c_str());
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    self->answered = true;
  }
  static inline DialogAnswer* current_ = nullptr;
  const wchar_t* title_;
  std::wstring path_;
  UINT_PTR id_;
};

std::wstring TempPath(const wchar_t* name) {
  wchar_t dir[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class RealTransfer : public testing::Test {
 protected:
  void SetUp() override {
    Application().Initialize();
    Application().OnException = [this](TObject*, const std::exception& e) { errors.push_back(e.what()); };
    form = Application().CreateForm<TForm1>();
    form->Show();
  }
  void TearDown() override {
    delete form;
    Application().OnException = nullptr;
  }
  SocketLayerScope sockets;
  TForm1* form = nullptr;
  std::vector<std::string> errors;
};

TEST_F(RealTransfer, ReceiveSavesTheDevicesFileWhereTheUserChose) {
  Peer peer("hostname r1\r\n");
  form->TargetPortEdit->SetText(std::to_wstring(peer.port()));
  form->Password->SetText(L"pw");
  const std::wstring path = TempPath(L"tarnwick-受信.txt");
  ::DeleteFileW(path.c_str());
  DialogAnswer save(L"Save File ...", path);
  ::SendMessageW(form->BGetFile->Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(save.answered);
  EXPECT_EQ(save.proposed, L"config") << "the file name alone, never with the password";
  const char rrq[] = "\0\1config/pw\0octet";  // the literal's own NUL ends the mode
  EXPECT_EQ(peer.request, std::string(rrq, sizeof(rrq)));
  EXPECT_EQ(ReadAll(path), "hostname r1\r\n");
  auto lines = form->Log->Lines();
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[6], L"    →ローカルファイル名：" + path);
  EXPECT_EQ(lines[7], L"受信が無事完了しました");
  EXPECT_TRUE(errors.empty());
  const DWORD hidden = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), hidden));
  Peer again("v2");
  form->TargetPortEdit->SetText(std::to_wstring(again.port()));
  DialogAnswer saveAgain(L"Save File ...", path);
  ::SendMessageW(form->BGetFile->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(ReadAll(path), "v2");
  EXPECT_EQ(::GetFileAttributesW(path.c_str()), hidden) << "a file received over keeps its attributes";
  ::DeleteFileW(path.c_str());
}

// Echoed raw and behind a stray lead byte, a masked password stays out of the log.
TEST_F(RealTransfer, DeviceEchoOfThePasswordStaysOutOfTheLogWhileMasked) {
  Peer peer("",
            [](std::string name) { return "no " + name + " here, \x81" + name.substr(name.find('/') + 1); });
  form->TargetPortEdit->SetText(std::to_wstring(peer.port()));
  form->Password->SetText(L"Ab\uFF5E\uFF0D9");  // full-width tilde and minus: 81 60 81 7C in CP932
  ::SendMessageW(form->BGetFile->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(form->Log->Lines().at(7), L"ホストから返ってきたエラーコード：1 - no config*** here, \uFFFD***");
}

TEST_F(RealTransfer, SendLoadsTheChosenFileAndPutsItWhole) {
  Peer peer("");
  const std::wstring path = TempPath(L"tarnwick-送信.txt");
  {
    std::ofstream out(path.c_str(), std::ios::binary);
    out << "interface ge0\n";
  }
  form->TargetPortEdit->SetText(std::to_wstring(peer.port()));
  form->TargetFileEdit->SetText(L"  設定.cfg ");
  form->ckbShowConfirm->SetChecked(true);  // ticked: no confirmation
  DialogAnswer open(L"Select File to put ...", path);
  ::SendMessageW(form->BPutFile->Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(open.answered);
  // Trimmed and in CP932 on the wire.
  const char wrq[] = "\0\2\x90\xdd\x92\xe8.cfg\0octet";
  EXPECT_EQ(peer.request, std::string(wrq, sizeof(wrq)));
  EXPECT_EQ(peer.received, "interface ge0\n");
  auto lines = form->Log->Lines();
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[5], L"  ローカルファイル名：" + path);
  EXPECT_EQ(lines[6], L"    →ホスト上のファイル名：設定.cfg");
  EXPECT_EQ(lines[7], L"送信が無事完了しました");
  ::DeleteFileW(path.c_str());
}

TEST_F(RealTransfer, MissingLocalFileGoesToTheErrorHookAfterTheHostFileLine) {
  const std::wstring path = TempPath(L"tarnwick-no-such-file.txt");
  ::DeleteFileW(path.c_str());
  form->ckbShowConfirm->SetChecked(true);
  DialogAnswer open(L"Select File to put ...", path);
  ::SendMessageW(form->BPutFile->Handle(), BM_CLICK, 0, 0);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("は開けません"), std::string::npos) << errors[0];
  auto lines = form->Log->Lines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines.back(), L"    →ホスト上のファイル名：config");
  EXPECT_EQ(form->RunningEngine(), nullptr);
}

}  // namespace
}  // namespace tarnwick
