// The crash reporter end to end: each case copies the failing child program
// into a fresh folder, runs it with a bounded wait and checks its exit code,
// what it showed and the log file it left beside itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
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
std::string ReadAll(const std::wstring& path, std::size_t limit = std::string::npos) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (bytes.size() < limit && ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    bytes.append(buffer, got);
  CloseHandle(file);
  return bytes.substr(0, limit);
}

// The last `count` bytes of a file too large to read whole.
std::string ReadTail(const std::wstring& path, std::size_t count) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  LARGE_INTEGER back;
  back.QuadPart = -static_cast<LONGLONG>(count);
  std::string bytes(count, '\0');
  DWORD got = 0;
  if (!SetFilePointerEx(file, back, nullptr, FILE_END) ||
      !ReadFile(file, bytes.data(), static_cast<DWORD>(count), &got, nullptr))
    got = 0;
  CloseHandle(file);
  bytes.resize(got);
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

// Removes a folder with everything in it (the cases leave files, folders
// and read-only files behind).
void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path + L"\\");
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
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
    // Each case has a user folder of its own; the child inherits it.
    wchar_t saved[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", saved, MAX_PATH);
    savedUserFolder_ = n > 0 && n < MAX_PATH ? std::wstring(saved, n) : std::wstring();
    ASSERT_TRUE(CreateDirectoryW(UserData().c_str(), nullptr));
    ASSERT_TRUE(SetEnvironmentVariableW(L"LOCALAPPDATA", UserData().c_str()));
  }

  void TearDown() override {
    SetEnvironmentVariableW(L"LOCALAPPDATA", savedUserFolder_.empty() ? nullptr : savedUserFolder_.c_str());
    RemoveTree(folder_);
  }

  std::wstring UserData() const { return folder_ + L"user-data"; }
  std::wstring UserLog() const { return UserData() + L"\\Tarnwick\\crash_child.log"; }

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
  std::wstring savedUserFolder_;
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

// Regression: a log of 2 GiB or more was taken as empty and rewritten from
// its start, destroying every earlier entry; one of 600 MiB, read whole,
// ran the 32-bit process out of memory before its entry was written.
class LargeLogTest : public CrashChildTest, public testing::WithParamInterface<LONGLONG> {};
INSTANTIATE_TEST_SUITE_P(Sizes, LargeLogTest, testing::Values(600LL << 20, 0x80000000LL));
TEST_P(LargeLogTest, KeepsItsEntriesAndGetsTheNewOne) {
  const std::string head = "an earlier entry\r\nVersion Number   : ----\r\n";  // the child's version
  const LONGLONG size = GetParam();  // sparse: nothing of it is written
  HANDLE file =
      CreateFileW(Log().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  LARGE_INTEGER end;
  end.QuadPart = size;
  const bool made = WriteFile(file, head.data(), static_cast<DWORD>(head.size()), &written, nullptr) &&
                    SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  ASSERT_TRUE(made);

  const RunResult run = Run("open-fail " + Missing());
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  WIN32_FILE_ATTRIBUTE_DATA info{};
  ASSERT_TRUE(GetFileAttributesExW(Log().c_str(), GetFileExInfoStandard, &info));
  const LONGLONG after = (static_cast<LONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  EXPECT_GT(after, size) << "the entry is appended behind the old content";
  EXPECT_EQ(ReadAll(Log(), head.size()), head) << "the earlier entries are still there";
  const std::string tail = ReadTail(Log(), static_cast<std::size_t>(std::min<LONGLONG>(after - size, 65536)));
  EXPECT_NE(tail.find("Exception Type   : EFOpenError\r\n"), std::string::npos) << tail;
}

// Regression: with the program's folder not writable (a standard user and
// Program Files) reports were lost without a word.
TEST_F(CrashChildTest, UnwritableLogPlaceFallsBackToTheUserFolder) {
  struct Case {
    const char* name;
    bool logNameTakenByFolder;
    bool logFolderThroughFile;
  } cases[] = {
      {"the log's name is taken by a folder", true, false},
      {"the log folder lies under a file", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.logNameTakenByFolder) {
      ASSERT_TRUE(CreateDirectoryW(Log().c_str(), nullptr));
    }
    if (c.logFolderThroughFile) {
      const std::string through = Narrow(Exe()) + "\\logs\\";
      ChangeOptions([&](CrashOptions& o) { o.logFolder = through; });
    }
    const RunResult run = Run("open-fail " + Missing());
    ASSERT_FALSE(run.timedOut) << run.output;
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    const std::string line = "Log File         : " + Narrow(UserLog()) + "\r";
    EXPECT_NE(run.output.find(line), std::string::npos)
        << "the report says where its entry went: " << run.output;
    const std::string log = ReadAll(UserLog());
    EXPECT_NE(log.find("Exception Type   : EFOpenError\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Log File"), std::string::npos) << "the entry itself keeps its format";
    EXPECT_EQ(Count(log, std::string(60, '-') + "\r\n"), 3u) << log;

    // The log rules work on the stand-in: a repeat adds nothing.
    const RunResult again = Run("open-fail " + Missing());
    ASSERT_FALSE(again.timedOut) << again.output;
    EXPECT_EQ(ReadAll(UserLog()), log);
    RemoveDirectoryW(Log().c_str());
    DeleteFileW(UserLog().c_str());
  }
}

// Regression: an error of a timer or paint message while the report dialog
// was open showed only the plain box and was never logged.
TEST_F(CrashChildTest, ErrorWhileTheReportIsOpenIsReportedAfterIt) {
  const RunResult run = Run("timer " + Missing());
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(run.output.find("ERROR-BOX"), std::string::npos) << run.output;
  EXPECT_EQ(Count(run.output, "DIALOG-REPORT-BEGIN"), 2u) << run.output;
  EXPECT_NE(run.output.find("the program goes on"), std::string::npos) << run.output;
  const std::string log = ReadAll(Log());
  EXPECT_EQ(Count(log, std::string(60, '-') + "\r\n"), 6u) << "two entries: " << log;
  const std::size_t first = log.find("no-such-file.bin ");
  const std::size_t second = log.find("no-such-file.bin.timer");
  ASSERT_NE(first, std::string::npos) << log;
  ASSERT_NE(second, std::string::npos) << log;
  EXPECT_LT(first, second) << "the open report first, then the one that waited";
}

// Regression: a stack overflow ended the program with no report.
TEST_F(CrashChildTest, StackOverflowIsReported) {
  const RunResult run = Run("overflow");
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitCode, 1u) << run.output;
  EXPECT_NE(run.output.find("DIALOG-REPORT-BEGIN"), std::string::npos) << run.output;
  const std::string log = ReadAll(Log());
  EXPECT_NE(log.find("Exception Type   : EStackOverflow\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("|CrashChild.cpp"), std::string::npos) << "the recursion is in the table: " << log;
}

// Regression: `throw 42` got a stand-in's texts inside the loop, and ended
// the program unreported when it met a frame that lets nothing pass.
TEST_F(CrashChildTest, ThrownObjectThatIsNoErrorIsReportedAsSuch) {
  struct Case {
    const char* mode;
    DWORD exitCode;
    bool goesOn;
  } cases[] = {{"int-loop", 0, true}, {"int-fatal", 1, false}, {"int-unguarded", 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    DeleteFileW(Log().c_str());
    const RunResult run = Run(c.mode);
    ASSERT_FALSE(run.timedOut) << run.output;
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    EXPECT_EQ(run.output.find("the program goes on") != std::string::npos, c.goesOn) << run.output;
    EXPECT_NE(run.output.find("Exception Message: ----"), std::string::npos) << run.output;
    const std::string log = ReadAll(Log());
    EXPECT_NE(log.find("Exception Type   : ----\r\nException Message: ----\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("unknown exception"), std::string::npos) << log;
  }
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
    RemoveDirectoryW(profile_.c_str());  // left by the case that blocks the file
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

// Regression: a position stored for a monitor that is gone opened the
// modal dialog off screen, and the program looked frozen.
TEST_F(CrashDialogGeometryTest, StoredPositionOffScreenOpensInsideTheWorkArea) {
  for (const auto& [key, value] : {std::pair{L"Width", L"500"},
                                   {L"Height", L"300"},
                                   {L"Left", L"5000"},
                                   {L"Top", L"-4000"},
                                   {L"WindowsState", L"1"}})
    ASSERT_TRUE(WritePrivateProfileStringW(L"Coordinates", key, value, L"CrashReport.ini"));
  const RunResult run = Run("open-fail " + Missing());
  ASSERT_FALSE(run.timedOut) << run.output;
  long left = 0, top = 0, width = 0, height = 0;
  const std::size_t at = run.output.find("WIDTH=");
  ASSERT_NE(at, std::string::npos) << run.output;
  ASSERT_EQ(std::sscanf(run.output.c_str() + at, "WIDTH=%ld HEIGHT=%ld LEFT=%ld TOP=%ld", &width, &height,
                        &left, &top),
            4)
      << run.output;
  RECT work{};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
  EXPECT_EQ(width, 500);
  EXPECT_EQ(height, 300);
  EXPECT_EQ(left + width, work.right) << "moved to the nearest edge";
  EXPECT_EQ(top, work.top);
}

// Regression: the dialog's settings were lost when their file could not
// be written; they go to the user's own folder instead.
TEST_F(CrashDialogGeometryTest, UnwritableSettingsGoToTheUserFolder) {
  ASSERT_TRUE(CreateDirectoryW(profile_.c_str(), nullptr));  // the file cannot be made
  RunResult run = Run("open-fail " + Missing() + " maximise");
  ASSERT_FALSE(run.timedOut) << run.output;
  const std::wstring own = UserData() + L"\\Tarnwick\\CrashReport.ini";
  EXPECT_EQ(GetPrivateProfileIntW(L"Coordinates", L"WindowsState", -1, own.c_str()), 3u);
  run = Run("open-fail " + Missing());
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_NE(run.output.find("ZOOMED=1"), std::string::npos) << "read back from there: " << run.output;
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
