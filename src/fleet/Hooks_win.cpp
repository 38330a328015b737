// Hooks on Windows: CreateProcessW with a UTF-16 environment block, the
// process put in a job object before it runs a single instruction (created
// suspended), so the time limit ends it and everything it started.
#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "base/TextCodec.h"
#include "cliutil/FileHandle.h"
#include "fleet/Hooks.h"
#include "ui/Handle.h"

namespace tarnwick::fleet {
namespace {

struct KernelObjectTraits {
  using handle_type = HANDLE;
  static HANDLE Invalid() noexcept { return nullptr; }
  static void Free(HANDLE h) noexcept { ::CloseHandle(h); }
};
using KernelObject = UniqueHandle<KernelObjectTraits>;

// One argument as the C runtime's command-line parser reads it back:
// backslashes are literal except before a quote, where they are doubled.
std::wstring QuotedArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring out = L"\"";
  for (std::size_t i = 0;; ++i) {
    std::size_t backslashes = 0;
    while (i < argument.size() && argument[i] == L'\\') ++i, ++backslashes;
    if (i == argument.size()) {
      out.append(backslashes * 2, L'\\');
      break;
    }
    if (argument[i] == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    out += argument[i];
  }
  return out + L"\"";
}

std::vector<std::string> InheritedEnvironment() {
  std::vector<std::string> entries;
  wchar_t* block = ::GetEnvironmentStringsW();
  if (!block) return entries;
  for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) entries.push_back(WideToUtf8(entry));
  ::FreeEnvironmentStringsW(block);
  return entries;
}

std::wstring EnvironmentBlock(const std::vector<std::string>& entries) {
  std::wstring block;
  for (const std::string& entry : entries) {
    block += Utf8ToWide(entry);
    block += L'\0';
  }
  if (block.empty()) block += L'\0';
  return block + L'\0';
}

// Copies what the hook wrote into its pipe to our standard error, up to
// the cap; never waits for more than is there (PeekNamedPipe first), so a
// process the hook left behind holding the pipe cannot hold us.
class OutputRelay {
 public:
  explicit OutputRelay(HANDLE read) : read_(read) {}
  void Drain() {
    char buffer[16384];
    for (;;) {
      DWORD available = 0, got = 0;
      if (!::PeekNamedPipe(read_, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
      if (!::ReadFile(read_, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) || got == 0)
        return;
      Show(buffer, cap_.Shown(got));
    }
  }
  std::uint64_t Finish() {
    Drain();
    const std::string note = cap_.Note();
    Show(note.data(), note.size());
    return cap_.Dropped();
  }

 private:
  static void Show(const char* data, std::size_t size) {
    const HANDLE out = ::GetStdHandle(STD_ERROR_HANDLE);
    while (size > 0 && out && out != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      if (!::WriteFile(out, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) return;
      data += written;
      size -= written;
    }
  }
  HANDLE read_;
  HookOutputCap cap_;
};

}  // namespace

HookResult RunHook(const HookRequest& request) {
  if (request.argv.empty()) return HookNotStarted("no command");
  std::wstring commandLine;
  for (const std::string& argument : request.argv) {
    if (!commandLine.empty()) commandLine += L' ';
    commandLine += QuotedArgument(Utf8ToWide(argument));
  }
  std::wstring environment = EnvironmentBlock(
      HookEnvironment(InheritedEnvironment(), HookVariables(request.facts, request.secrets)));

  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const std::wstring inputName = request.input.empty() ? L"NUL" : Utf8ToWide(request.input);
  KernelObject input(::CreateFileW(inputName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inheritable, OPEN_EXISTING, 0, nullptr));
  if (input.get() == INVALID_HANDLE_VALUE) input.release();
  // The hook's output goes into a pipe of ours (OutputRelay); only the
  // write end is inherited.
  HANDLE rawRead = nullptr, rawWrite = nullptr;
  if (!::CreatePipe(&rawRead, &rawWrite, &inheritable, 0))
    return HookNotStarted("no pipe for its output: " + cli::FileError::Last().text);
  KernelObject pipeRead(rawRead), output(rawWrite);
  ::SetHandleInformation(pipeRead.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = output.get();
  startup.hStdError = output.get();

  KernelObject job(::CreateJobObjectW(nullptr, nullptr));
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.data(),
                        nullptr, &startup, &process))
    return HookNotStarted(request.argv[0] + ": " + cli::FileError::Last().text);
  KernelObject processHandle(process.hProcess), thread(process.hThread);
  output.reset();  // the hook holds the write end now
  OutputRelay relay(pipeRead.get());
  auto done = [&relay](HookResult result) {
    result.outputDropped = relay.Finish();
    return result;
  };
  const bool inJob = job && ::AssignProcessToJobObject(job.get(), processHandle.get());
  ::ResumeThread(thread.get());

  // Waits in slices so a stop request is seen within a tenth of a second,
  // relaying the output between them.
  const auto deadline = std::chrono::steady_clock::now() + request.timeLimit;
  bool stop = false, late = false;
  while (::WaitForSingleObject(processHandle.get(), 20) == WAIT_TIMEOUT) {
    relay.Drain();
    stop = request.stopRequested && request.stopRequested();
    late = std::chrono::steady_clock::now() >= deadline;
    if (stop || late) break;
  }
  if (stop || late) {
    if (inJob) {
      ::TerminateJobObject(job.get(), 1);
    } else {
      ::TerminateProcess(processHandle.get(), 1);
    }
    ::WaitForSingleObject(processHandle.get(), INFINITE);
    return done(stop ? InterruptedHook() : TimedOutHook(request.timeLimit));
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(processHandle.get(), &code)) {
    HookResult lost;
    lost.outcome = HookOutcome::Exited;
    lost.reason = "its exit status was lost: " + cli::FileError::Last().text;
    return done(lost);
  }
  return done(ExitedHook(static_cast<int>(code)));
}

}  // namespace tarnwick::fleet
