// Hooks on Windows: CreateProcessW with a UTF-16 environment block, the
// process put in a job object before it runs a single instruction (created
// suspended), so the time limit ends it and everything it started.
#include <windows.h>

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

// A handle the child may inherit; ours stays as it was.
KernelObject InheritableCopy(HANDLE handle) {
  HANDLE copy = nullptr;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return KernelObject();
  if (!::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
    return KernelObject();
  return KernelObject(copy);
}

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
  KernelObject output = InheritableCopy(::GetStdHandle(STD_ERROR_HANDLE));
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
  const bool inJob = job && ::AssignProcessToJobObject(job.get(), processHandle.get());
  ::ResumeThread(thread.get());

  // Waits in slices so a stop request is seen within a tenth of a second.
  const auto deadline = std::chrono::steady_clock::now() + request.timeLimit;
  bool stop = false, late = false;
  while (::WaitForSingleObject(processHandle.get(), 100) == WAIT_TIMEOUT) {
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
    return stop ? InterruptedHook() : TimedOutHook(request.timeLimit);
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(processHandle.get(), &code)) {
    HookResult lost;
    lost.outcome = HookOutcome::Exited;
    lost.reason = "its exit status was lost: " + cli::FileError::Last().text;
    return lost;
  }
  return ExitedHook(static_cast<int>(code));
}

}  // namespace tarnwick::fleet
