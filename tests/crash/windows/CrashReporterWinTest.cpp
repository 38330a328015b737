// The crash reporter end to end: each case copies the failing child program
// into a fresh folder, runs it with a bounded wait and checks its exit code,
// what it showed and the log file it left beside itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "crash/CrashOptions.h"

namespace tarnwick {
namespace {

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += static_cast<char>(c);  // test paths are ASCII
  return s;
}

// Wide paths throughout: one case puts the program in a folder whose name
// the system code page cannot spell.
std::string ReadAll(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, bytes.size());
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

struct RunResult {
  DWORD exitCode = 0;
  std::string output;
  bool timedOut = false;
};

class CrashChildTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"tarnwick-crash-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(counter_++) + L"\\";
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW((OwnFolder() + L"crash_child.exe").c_str(), Exe().c_str(), FALSE));
  }

  void TearDown() override {
    for (const wchar_t* name :
         {L"crash_child.exe", L"crash_child.log", L"crash_child.crash.ini", L"MAPI32.DLL", L"fake-mapi.txt"})
      DeleteFileW((folder_ + name).c_str());
    RemoveDirectoryW(folder_.c_str());
  }

  std::wstring Exe() const { return folder_ + L"crash_child.exe"; }
  std::wstring Log() const { return folder_ + L"crash_child.log"; }
  std::wstring Settings() const { return folder_ + L"crash_child.crash.ini"; }
  std::string Missing() const { return Narrow(folder_) + "no-such-file.bin"; }

  RunResult Run(const std::string& args) {
    RunResult result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring command = L"\"" + Exe() + L"\" ";
    for (char c : args) command += static_cast<wchar_t>(c);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        folder_.c_str(), &startup, &process);
    CloseHandle(writeEnd);
    EXPECT_TRUE(started);
    if (!started) {
      CloseHandle(readEnd);
      return result;
    }
    // Read until the child and everything holding the pipe are gone, with
    // a bound on the whole run.
    const DWORD deadline = GetTickCount() + 60000;
    char buffer[4096];
    for (;;) {
      DWORD available = 0;
      if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) break;
      if (available > 0) {
        DWORD got = 0;
        if (!ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
        result.output.append(buffer, got);
        continue;
      }
      if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) {
        // Drain what is left after the exit.
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
          DWORD got = 0;
          if (!ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
          result.output.append(buffer, got);
        }
        break;
      }
      if (static_cast<LONG>(GetTickCount() - deadline) > 0) {
        result.timedOut = true;
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
        break;
      }
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(readEnd);
    return result;
  }

  // Rewrites the child's options block with changed values.
  template <class Change>
  void ChangeOptions(Change change) {
    std::string bytes = ReadAll(Exe());
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    auto options = ReadOptionsBlock(data, bytes.size());
    ASSERT_TRUE(options.has_value());
    const std::uint32_t size = data[bytes.size() - 8] | (data[bytes.size() - 7] << 8) |
                               (data[bytes.size() - 6] << 16) |
                               (static_cast<std::uint32_t>(data[bytes.size() - 5]) << 24);
    bytes.resize(bytes.size() - size - 8);
    change(*options);
    const std::vector<std::uint8_t> block = WriteOptionsBlock(*options);
    bytes.append(block.begin(), block.end());
    WriteAll(Exe(), bytes);
  }

  std::wstring folder_;
  static inline int counter_ = 0;
};

TEST_F(CrashChildTest, ChildCarriesTheProgramOptionsAndLineTables) {
  const std::string bytes = ReadAll(Exe());
  const auto options = ReadOptionsBlock(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  ASSERT_TRUE(options.has_value());
  EXPECT_EQ(options->formatVersion, 301);
  EXPECT_EQ(options->Text(kTextDialogCaption), "Exception Log");
  EXPECT_FALSE(options->lineTables.empty());
  EXPECT_LT(options->lineTables.size(), kLineTableLimit);
}

TEST_F(CrashChildTest, UnreadableFileIsReportedOnceAndTheProgramGoesOn) {
  const RunResult first = Run("open-fail " + Missing());
  ASSERT_FALSE(first.timedOut) << first.output;
  EXPECT_EQ(first.exitCode, 0u) << first.output;
  EXPECT_NE(first.output.find("the program goes on"), std::string::npos) << first.output;
  EXPECT_NE(first.output.find("DIALOG-REPORT-BEGIN"), std::string::npos) << first.output;
  EXPECT_NE(first.output.find("Exception Type   : EFOpenError"), std::string::npos) << first.output;

  const std::string log = ReadAll(Log());
  EXPECT_EQ(Count(log, std::string(60, '-') + "\r\n"), 3u) << log;
  EXPECT_NE(log.find("\r\nException Type   : EFOpenError\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\r\nVersion Number   : ----\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("|Unit"), std::string::npos) << log;
  // Rows name our own sources with a line number, never the reporter's.
  EXPECT_NE(log.find("|CrashChild.cpp"), std::string::npos) << log;
  EXPECT_NE(log.find("|FileStream_win.cpp"), std::string::npos) << log;
  EXPECT_EQ(log.find("CrashReport_win.cpp"), std::string::npos) << log;
  EXPECT_EQ(log.find("StackCapture_win.cpp"), std::string::npos) << log;
  const std::size_t row = log.find("|CrashChild.cpp");
  ASSERT_NE(row, std::string::npos);
  const std::string rowText = log.substr(row, 60);
  EXPECT_EQ(rowText.substr(52, 1), "|");
  EXPECT_GT(std::stoi(rowText.substr(53, 6)), 0) << rowText;
  EXPECT_EQ(log.substr(log.size() - 64), std::string(60, '-') + "\r\n\r\n");

  const RunResult second = Run("open-fail " + Missing());
  ASSERT_FALSE(second.timedOut) << second.output;
  EXPECT_EQ(second.exitCode, 0u);
  EXPECT_NE(second.output.find("DIALOG-REPORT-BEGIN"), std::string::npos) << "the dialog still shows";
  EXPECT_EQ(ReadAll(Log()), log) << "a repeat adds nothing";
}

TEST_F(CrashChildTest, ErrorOutsideTheLoopEndsWithExitCodeOneAfterTheReport) {
  const RunResult run = Run("fatal " + Missing());
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitCode, 1u) << run.output;
  EXPECT_NE(run.output.find("DIALOG-REPORT-BEGIN"), std::string::npos) << run.output;
  EXPECT_NE(ReadAll(Log()).find("Exception Type   : EFOpenError"), std::string::npos);
}

TEST_F(CrashChildTest, ProcessorFaultGoesToTheLastResort) {
  const RunResult run = Run("fault");
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitCode, 1u) << run.output;
  const std::string log = ReadAll(Log());
  EXPECT_NE(log.find("Exception Type   : EAccessViolation"), std::string::npos) << log;
  EXPECT_NE(log.find("Write of address 00000000"), std::string::npos) << log;
  EXPECT_NE(log.find("|CrashChild.cpp"), std::string::npos) << log;
}

TEST_F(CrashChildTest, ConsoleOutputModeWritesTheReportToStandardOutput) {
  ChangeOptions([](CrashOptions& o) { o.outputMode = 1; });
  const RunResult run = Run("open-fail " + Missing());
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output.find("DIALOG-REPORT-BEGIN"), std::string::npos) << "no dialog in console mode";
  EXPECT_NE(run.output.find("Exception Log (crash_child.exe)\r\n\r\n"
                            "An error has occurred during the execution of the program.\r\n"
                            "For more details read the following informations.\r\n\r\n"
                            "Informations on the error:\r\n"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("Exception Type   : EFOpenError\r\n"), std::string::npos);
  EXPECT_NE(ReadAll(Log()).find("EFOpenError"), std::string::npos);
}

TEST_F(CrashChildTest, ClassMessageReplacesTheReport) {
  ChangeOptions([](CrashOptions& o) { o.classMessages = {{"efopenerror", ""}}; });
  const RunResult run = Run("open-fail " + Missing());
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output.find("DIALOG-REPORT-BEGIN"), std::string::npos) << run.output;
  EXPECT_EQ(GetFileAttributesW(Log().c_str()), INVALID_FILE_ATTRIBUTES) << "no report, no log entry";
}

TEST_F(CrashChildTest, WithoutOptionsOnlyThePlainErrorBoxShows) {
  std::string bytes = ReadAll(Exe());
  bytes.back() ^= 0x01;  // break the magic
  WriteAll(Exe(), bytes);
  const RunResult run = Run("fatal " + Missing());
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_NE(run.output.find("ERROR-BOX"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("DIALOG-REPORT-BEGIN"), std::string::npos) << run.output;
  EXPECT_EQ(GetFileAttributesW(Log().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(CrashChildTest, LogLandsBesideAProgramInAFolderOutsideTheCodePage) {
  const std::wstring outer = folder_;
  const std::wstring inner = outer + L"caf\u00e9\u0416\u4e2d\\";
  ASSERT_TRUE(CreateDirectoryW(inner.c_str(), nullptr));
  ASSERT_TRUE(MoveFileW(Exe().c_str(), (inner + L"crash_child.exe").c_str()));
  folder_ = inner;  // the cases' paths now lead into the inner folder
  const RunResult run = Run("fatal nowhere.bin");
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitCode, 1u);
  const std::string log = ReadAll(Log());
  EXPECT_NE(log.find("Exception Type   : EFOpenError"), std::string::npos) << "log not beside the program";
  DeleteFileW(Log().c_str());
  DeleteFileW(Exe().c_str());
  RemoveDirectoryW(inner.c_str());
  folder_ = outer;  // back to the outer folder for the clean-up
}

TEST_F(CrashChildTest, NewVersionOfTheLogIsClearedFirst) {
  WriteAll(Log(), "old entry\r\nVersion Number   : 0.9\r\n" + std::string(60, '-') + "\r\n");
  const RunResult run = Run("open-fail " + Missing());
  ASSERT_FALSE(run.timedOut) << run.output;
  const std::string log = ReadAll(Log());
  EXPECT_EQ(log.find("old entry"), std::string::npos) << log;
  EXPECT_NE(log.find("EFOpenError"), std::string::npos) << log;
}

// The dialog keeps its geometry in "CrashReport.ini" of the Windows folder.
class CrashDialogGeometryTest : public CrashChildTest {
 protected:
  void SetUp() override {
    CrashChildTest::SetUp();
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    profile_ = std::wstring(windows) + L"\\CrashReport.ini";
    saved_ = ReadAll(profile_);
    DeleteFileW(profile_.c_str());
  }
  void TearDown() override {
    if (saved_.empty())
      DeleteFileW(profile_.c_str());
    else
      WriteAll(profile_, saved_);
    CrashChildTest::TearDown();
  }
  int Stored(const wchar_t* key) {
    return static_cast<int>(GetPrivateProfileIntW(L"Coordinates", key, -1, L"CrashReport.ini"));
  }
  std::wstring profile_;
  std::string saved_;
};

TEST_F(CrashDialogGeometryTest, ClosedMaximisedOpensMaximised) {
  RunResult run = Run("open-fail " + Missing() + " maximise");
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_NE(run.output.find("ZOOMED=0 WIDTH=466 HEIGHT=252"), std::string::npos)
      << "defaults: " << run.output;
  EXPECT_EQ(Stored(L"WindowsState"), 3);
  EXPECT_EQ(Stored(L"Width"), 466) << "the normal size is kept while maximised";

  run = Run("open-fail " + Missing());
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_NE(run.output.find("ZOOMED=1"), std::string::npos) << run.output;
  EXPECT_EQ(Stored(L"WindowsState"), 3);
}

TEST_F(CrashDialogGeometryTest, StoredSizeAndUnknownStateAreUsed) {
  for (const auto& [key, value] : {std::pair{L"Width", L"500"},
                                   {L"Height", L"300"},
                                   {L"Left", L"10"},
                                   {L"Top", L"20"},
                                   {L"WindowsState", L"0"}})
    ASSERT_TRUE(WritePrivateProfileStringW(L"Coordinates", key, value, L"CrashReport.ini"));
  const RunResult run = Run("open-fail " + Missing());
  ASSERT_FALSE(run.timedOut) << "a hidden modal dialog would never be answered: " << run.output;
  EXPECT_NE(run.output.find("ZOOMED=0 WIDTH=500 HEIGHT=300"), std::string::npos) << run.output;
  EXPECT_EQ(Stored(L"Left"), 10);
  EXPECT_EQ(Stored(L"Top"), 20);
  EXPECT_EQ(Stored(L"WindowsState"), 1);
}

// Mail: the pending-mail flag is honoured at start, and cleared whatever
// happens.
class CrashMailTest : public CrashChildTest {
 protected:
  void SetFlag(const wchar_t* value) {
    ASSERT_TRUE(WritePrivateProfileStringW(L"State", L"Send errors", value, Settings().c_str()));
  }
  int Flag() {
    return static_cast<int>(GetPrivateProfileIntW(L"State", L"Send errors", -1, Settings().c_str()));
  }

  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaults);
    CrashChildTest::TearDown();
  }

  // Tells the loader how to take the mail library for the child program
  // only: "native" loads the copy beside it, "" refuses any.
  void MailLibrary(const wchar_t* how) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kAppDefaults) + L"\\DllOverrides").c_str(), 0,
                              nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"mapi32", 0, REG_SZ, reinterpret_cast<const BYTE*>(how),
                   static_cast<DWORD>((wcslen(how) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }

  static constexpr const wchar_t* kAppDefaults = L"Software\\Wine\\AppDefaults\\crash_child.exe";
};

TEST_F(CrashMailTest, NoFlagNoMail) {
  ASSERT_TRUE(CopyFileW((OwnFolder() + L"MAPI32.DLL").c_str(), (folder_ + L"MAPI32.DLL").c_str(), FALSE));
  WriteAll(Log(), "an earlier report\r\n");
  SetFlag(L"0");
  MailLibrary(L"native");
  const RunResult run = Run("start");
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(ReadAll(folder_ + L"fake-mapi.txt"), "");
}

TEST_F(CrashMailTest, PendingFlagSendsTheLogThroughTheComposeDialog) {
  ASSERT_TRUE(CopyFileW((OwnFolder() + L"MAPI32.DLL").c_str(), (folder_ + L"MAPI32.DLL").c_str(), FALSE));
  WriteAll(Log(), "an earlier report\r\n");
  SetFlag(L"1");
  MailLibrary(L"native");
  const RunResult run = Run("start");
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  const std::string calls = ReadAll(folder_ + L"fake-mapi.txt");
  EXPECT_EQ(calls.find("logon name=(null) password=(null) flags=0\n"), 0u) << calls;
  // The empty address resolves to nobody, so the service's dialog must open.
  EXPECT_EQ(calls.find("resolve "), std::string::npos) << calls;
  const std::string file = " file=" + Narrow(Log()) + "|crash_child.log|-1";
  EXPECT_NE(calls.find("send session=77 flags=8 subject=(null) body=(null) recips=0 files=1" + file + "\n"),
            std::string::npos)
      << calls;
  EXPECT_NE(calls.find("logoff session=77"), std::string::npos) << calls;
  EXPECT_EQ(Count(calls, "send "), 1u) << "sent at start only, the flag was cleared: " << calls;
  EXPECT_EQ(Flag(), 0);
}

TEST_F(CrashMailTest, WithoutMailServiceTheFlagIsClearedSilently) {
  // The loader refuses the mail library: every call fails, nothing shows.
  ASSERT_TRUE(CopyFileW((OwnFolder() + L"MAPI32.DLL").c_str(), (folder_ + L"MAPI32.DLL").c_str(), FALSE));
  WriteAll(Log(), "an earlier report\r\n");
  SetFlag(L"1");
  MailLibrary(L"");
  const RunResult run = Run("start");
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output.find("ERROR-BOX"), std::string::npos) << run.output;
  EXPECT_EQ(ReadAll(folder_ + L"fake-mapi.txt"), "") << "the refused library was never called";
  EXPECT_EQ(Flag(), 0);
}

TEST_F(CrashMailTest, SendAtOnceUsesTheWrittenNameAndAddress) {
  ASSERT_TRUE(CopyFileW((OwnFolder() + L"MAPI32.DLL").c_str(), (folder_ + L"MAPI32.DLL").c_str(), FALSE));
  MailLibrary(L"native");
  ChangeOptions([](CrashOptions& o) {
    o.outputMode = 1;
    o.sendMode = 1;
    o.mailAddress = "Admin [admin@example.invalid]";
    o.mailSubject = "Crash";
    o.mailBodyLines = {"first", "second"};
  });
  const RunResult run = Run("open-fail " + Missing());
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitCode, 0u);
  const std::string calls = ReadAll(folder_ + L"fake-mapi.txt");
  EXPECT_NE(calls.find("resolve name=Admin [admin@example.invalid] flags=0\nfree resolved\n"),
            std::string::npos)
      << calls;
  // Resolved to a plain display name: the written line, less its brackets,
  // is both name and address; with a recipient no compose dialog is asked.
  EXPECT_NE(calls.find("send session=77 flags=0 subject=Crash body=first\r\nsecond recips=1 files=1 "
                       "to=Admin admin@example.invalid|Admin admin@example.invalid file=" +
                       Narrow(Log()) + "|crash_child.log|-1\n"),
            std::string::npos)
      << calls;
  EXPECT_EQ(Count(calls, "send "), 1u) << calls;

  // The same error again is a repeat: no second mail.
  const RunResult again = Run("open-fail " + Missing());
  ASSERT_FALSE(again.timedOut);
  EXPECT_EQ(Count(ReadAll(folder_ + L"fake-mapi.txt"), "send "), 1u);
}

TEST_F(CrashMailTest, SendAtNextStartMarksTheFlagAndAnUnknownRecipientGetsTheDialog) {
  ASSERT_TRUE(CopyFileW((OwnFolder() + L"MAPI32.DLL").c_str(), (folder_ + L"MAPI32.DLL").c_str(), FALSE));
  MailLibrary(L"native");
  ChangeOptions([](CrashOptions& o) {
    o.outputMode = 1;
    o.sendMode = 2;
    o.mailAddress = "nobody";
  });
  // The error marks the mail; the check at shut-down of the same run sends
  // it and clears the mark.
  const RunResult run = Run("open-fail " + Missing());
  ASSERT_FALSE(run.timedOut) << run.output;
  const std::string calls = ReadAll(folder_ + L"fake-mapi.txt");
  EXPECT_NE(calls.find("resolve name=nobody flags=0\nresolve name=nobody flags=8\n"), std::string::npos)
      << calls;
  EXPECT_NE(calls.find("send session=77 flags=8 subject=(null) body=(null) recips=0 files=1"),
            std::string::npos)
      << calls;
  EXPECT_EQ(Count(calls, "send "), 1u) << calls;
  EXPECT_EQ(Flag(), 0);
}

}  // namespace
}  // namespace tarnwick
