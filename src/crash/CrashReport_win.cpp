#include <cxxabi.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <typeinfo>

#include "base/Exception.h"
#include "crash/AnsiText.h"
#include "crash/CrashFiles.h"
#include "crash/CrashLog.h"
#include "crash/CrashOptions.h"
#include "crash/CrashReport.h"
#include "crash/MailSend.h"
#include "crash/ReportDialog.h"
#include "crash/ReportText.h"
#include "crash/ReporterUnits.h"
#include "crash/StackCapture.h"
#include "crash/StackScan.h"
#include "crash/StackTable.h"

namespace tarnwick {

namespace {

LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
std::terminate_handler previousTerminate = nullptr;
bool installed = false;
// While one report is open (its dialog runs a message loop), errors of
// other windows' timers or paint messages wait here and are reported once
// it is done, instead of stacking boxes on the open dialog.
bool reporting = false;
std::vector<ErrorReport> deferred;
// A timer that fails on every tick would queue without end: further errors
// beyond this many are not kept.
constexpr std::size_t kDeferredLimit = 16;
// Set while a report is made on the stand-by thread for a failing thread
// that waits: the dialog must not take that thread's window as its owner.
bool reportOwnerless = false;
std::string lastReport;

std::string Demangled(const char* name) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> plain(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                               std::free);
  std::string result = status == 0 && plain ? plain.get() : name;
  const std::size_t scope = result.rfind("::");
  return scope == std::string::npos ? result : result.substr(scope + 2);
}

std::wstring ModulePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

void PlainErrorBox(const ErrorReport& error) {
  const std::wstring text = error.isException ? AnsiToWide(Utf8ToAnsi(error.message)) : L"General Error.";
  MessageBoxW(nullptr, text.c_str(), L"Error.", MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

std::string ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  return GetComputerNameW(name, &size) ? WideToAnsi(std::wstring(name, size)) : std::string();
}

std::string DateText(bool longTime) {
  wchar_t text[128] = {};
  const int n = longTime ? GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, text, 128)
                         : GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, text, 128);
  return n > 0 ? WideToAnsi(std::wstring(text, static_cast<std::size_t>(n - 1))) : std::string();
}

std::string VersionNumber(const std::wstring& exe) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  if (size == 0) return "----";
  std::vector<std::uint8_t> data(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoW(exe.c_str(), 0, size, data.data()) ||
      !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
      length < sizeof *info)
    return "1.0";
  return FormatVersionNumber(HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                             HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
}

// The loaded module a line-table record stands for: the program itself for
// the first record, else the module named like the record with "dll" in
// place of its last three characters.
std::optional<std::uint32_t> ModuleBase(int index, const std::string& name) {
  HMODULE module =
      index == 0 ? GetModuleHandleW(nullptr) : GetModuleHandleA(SideFilePath(name, "dll").c_str());
  if (module == nullptr) return std::nullopt;
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(module));
}

void WriteStdout(const std::string& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  if (out != nullptr && out != INVALID_HANDLE_VALUE)
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void Produce(const ErrorReport& error, const CrashOptions& options, const std::wstring& exe,
             const std::function<ActiveNames()>& names,
             const std::function<void(const ErrorReport&, bool&)>& notify) {
  if (options.useClassMessages) {
    const std::string upper = UpperCase(error.className);
    for (const auto& [name, message] : options.classMessages) {
      if (UpperCase(name) != upper) continue;
      if (!message.empty())
        MessageBoxW(nullptr, AnsiToWide(message).c_str(), AnsiToWide(options.Text(kTextInfoCaption)).c_str(),
                    MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
      return;
    }
  }

  ReportFields fields;
  fields.exceptionType = error.className;
  fields.exceptionMessage = error.isException ? ReportMessage(Utf8ToAnsi(error.message)) : "----";
  const std::vector<std::uint32_t> stack =
      error.stack.empty() ? CaptureStack(error.address, ProgramCodeRanges(options.extraModules))
                          : error.stack;
  if (options.showComputerName) fields.computerName = ComputerName();
  if (options.showDate) fields.date = DateText(false);
  if (options.showTime) fields.time = DateText(true);
  if (names) {
    const ActiveNames active = names();
    fields.activeForm = active.form.empty() ? "----" : active.form;
    fields.activeControl = active.control.empty() ? "----" : active.control;
  }
  fields.versionNumber = VersionNumber(exe);
  const std::string header = BuildReportHeader(options, fields);

  StackTableLayout layout;
  layout.showAddress = options.showAddress;
  layout.showModule = !options.extraModules.empty();
  layout.showRowsWithoutLineInfo = options.showRowsWithoutLineInfo;
  layout.addressHeader = options.Text(kTextAddressColumn);
  layout.moduleHeader = options.Text(kTextModuleColumn);
  layout.unitHeader = options.Text(kTextUnitColumn);
  layout.lineHeader = options.Text(kTextLineColumn);
  layout.hiddenUnits = ReporterUnits();
  const std::vector<std::uint8_t>& tables = options.lineTables;
  // A scanned stack holds the same return address many times (loops,
  // recursion, stale slots); each is looked up once.
  std::map<std::uint32_t, std::optional<TInfoLine>> resolved;
  const std::string table = FormatStackTable(
      stack,
      [&](std::uint32_t a) {
        auto it = resolved.find(a);
        if (it == resolved.end())
          it = resolved.emplace(a, LookupLine(tables.data(), tables.size(), a, &ModuleBase)).first;
        return it->second;
      },
      layout);

  // The log is opened before the report shows, so the report can say where
  // its entry goes when the usual place cannot be written.
  CrashLogFile log(SideFile(exe, L"log", options.logFolder));
  const std::string logPlace = log.InUserFolder() ? LogPlaceLine(options, WideToAnsi(log.Path())) : "";
  lastReport = header + logPlace + table.substr(0, table.size() - 2);
  const std::string exeName = FileNamePart(WideToAnsi(exe));
  bool allowOutput = true;
  if (notify) notify(error, allowOutput);
  if (!options.noOutput && allowOutput) {
    if (options.outputMode == 0) {
      ReportDialogTexts texts;
      texts.caption = AnsiToWide(options.Text(kTextDialogCaption) + " (" + exeName + ")");
      texts.explanation = AnsiToWide(options.Text(kTextExplanation));
      texts.label = AnsiToWide(options.Text(kTextReportLabel));
      texts.button = AnsiToWide(options.Text(kTextButton));
      texts.report = AnsiToWide(lastReport);
      ShowReportDialog(texts, reportOwnerless);
    } else if (options.outputMode == 1) {
      WriteStdout(ConsoleReport(options, exeName, lastReport));
    } else if (options.outputMode == 2) {
      WriteStdout(WebReport(options, exeName, lastReport));
    }
  }

  const bool duplicate = !log.Append(header + table + "\r\n", table, fields.versionNumber, options);
  if (options.sendMode != 0 && !duplicate) {
    PumpMessages();
    if (options.sendMode == 1)
      SendLogNow(options);
    else
      MarkMailForNextStart();
  }
}

// The stand-by thread for stack overflows. A thread whose stack is used up
// cannot run the report procedure (the dialog alone needs far more than
// is left), so it only hands the fault over and waits; the report is made
// here, on a stack of its own, from the failing thread's stack contents.
struct OverflowHandover {
  HANDLE start = nullptr;  // set by the failing thread, or to stop
  HANDLE done = nullptr;
  HANDLE thread = nullptr;
  bool stop = false;
  std::uint32_t address = 0;   // where the overflow happened
  std::uint32_t stackPos = 0;  // the failing thread's stack pointer
  std::uint32_t stackTop = 0;  // and the top of its stack
};
OverflowHandover overflow;

// An error that ends the process cannot wait for an open report to finish:
// it gets the plain box, as the first report cannot be left.
void ReportFatal(const ErrorReport& error) noexcept {
  if (reporting)
    PlainErrorBox(error);
  else
    CrashHandler().Report(error);
}

void ReportOverflow() noexcept {
  try {
    ErrorReport error;
    error.className = "EStackOverflow";
    error.message = "Stack overflow";
    error.address = overflow.address;
    const std::uint32_t from = overflow.stackPos & ~3u;
    if (overflow.stackTop > from)
      error.stack = ScanStack(reinterpret_cast<const std::uint32_t*>(static_cast<std::uintptr_t>(from)),
                              (overflow.stackTop - from) / 4, error.address, ProgramCodeRanges({}));
    reportOwnerless = true;
    ReportFatal(error);
  } catch (...) {
  }
  reportOwnerless = false;
}

DWORD WINAPI OverflowStandBy(void*) {
  if (WaitForSingleObject(overflow.start, INFINITE) == WAIT_OBJECT_0 && !overflow.stop) {
    ReportOverflow();
    SetEvent(overflow.done);
  }
  return 0;
}

void StartOverflowStandBy() {
  overflow.start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  overflow.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (overflow.start != nullptr && overflow.done != nullptr)
    overflow.thread = CreateThread(nullptr, 1u << 20, &OverflowStandBy, nullptr,
                                   STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
}

void StopOverflowStandBy() {
  if (overflow.thread != nullptr) {
    overflow.stop = true;
    SetEvent(overflow.start);
    WaitForSingleObject(overflow.thread, INFINITE);
    CloseHandle(overflow.thread);
  }
  for (HANDLE event : {overflow.start, overflow.done})
    if (event != nullptr) CloseHandle(event);
  overflow = OverflowHandover();
}

__attribute__((noinline)) void ReportFault(const EXCEPTION_POINTERS* pointers) {
  ErrorReport error;
  const EXCEPTION_RECORD* record = pointers != nullptr ? pointers->ExceptionRecord : nullptr;
  char text[160];
  if (record != nullptr && record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
      record->NumberParameters >= 2) {
    error.className = "EAccessViolation";
    std::snprintf(text, sizeof text, "Access violation at address %08X. %s of address %08X",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(record->ExceptionAddress)),
                  record->ExceptionInformation[0] == 8   ? "Execute"
                  : record->ExceptionInformation[0] == 1 ? "Write"
                                                         : "Read",
                  static_cast<unsigned>(record->ExceptionInformation[1]));
  } else {
    error.className = "EExternalException";
    std::snprintf(text, sizeof text, "External exception %08X",
                  record != nullptr ? static_cast<unsigned>(record->ExceptionCode) : 0u);
  }
  error.message = text;
  error.address = record != nullptr
                      ? static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(record->ExceptionAddress))
                      : 0;
  ReportFatal(error);
}

// Runs on the failing thread, which may have almost no stack left: nothing
// here may need more than the hand-over.
LONG WINAPI LastResortFilter(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers != nullptr ? pointers->ExceptionRecord : nullptr;
  if (record != nullptr && record->ExceptionCode == EXCEPTION_STACK_OVERFLOW && overflow.thread != nullptr &&
      !overflow.stop) {
    std::uintptr_t top = 0;
    asm volatile("movl %%fs:4, %0" : "=r"(top));  // NT_TIB::StackBase of this thread
    overflow.address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(record->ExceptionAddress));
    overflow.stackPos = pointers->ContextRecord != nullptr ? pointers->ContextRecord->Esp : 0;
    overflow.stackTop = static_cast<std::uint32_t>(top);
    SetEvent(overflow.start);
    WaitForSingleObject(overflow.done, INFINITE);
    ExitProcess(1);
  }
  ReportFault(pointers);
  ExitProcess(1);
}

// What ends the program through std::terminate (an error thrown through a
// frame that lets none pass) is reported like any error outside the loop.
[[noreturn]] void TerminateHandler() noexcept {
  if (std::current_exception()) HandleFatalException();
  ReportFatal(DescribeException(nullptr));
  ExitProcess(1);
}

bool SameError(const ErrorReport& a, const ErrorReport& b) {
  return a.className == b.className && a.message == b.message && a.address == b.address && a.stack == b.stack;
}

void Defer(const ErrorReport& error) noexcept {
  try {
    ErrorReport later = error;
    // Scanned now: by the time it is reported this stack is gone.
    if (later.stack.empty()) later.stack = CaptureStack(later.address, ProgramCodeRanges({}));
    for (const ErrorReport& queued : deferred)
      if (SameError(queued, later)) return;
    if (deferred.size() < kDeferredLimit) deferred.push_back(std::move(later));
  } catch (...) {
    PlainErrorBox(error);
  }
}

}  // namespace

ErrorReport DescribeException(const std::exception* error) {
  ErrorReport report;
  if (error == nullptr) {
    report.isException = false;
    report.className = "----";
  } else if (const auto* own = dynamic_cast<const Exception*>(error)) {
    report.className = own->ClassName();
    report.message = own->Message();
    report.address = static_cast<std::uint32_t>(own->Raised().address);
    report.stack.assign(own->Raised().stack.begin(), own->Raised().stack.end());
  } else {
    report.className = Demangled(typeid(*error).name());
    report.message = error->what();
  }
  if (report.address == 0)
    report.address = static_cast<std::uint32_t>(
        reinterpret_cast<std::uintptr_t>(__builtin_extract_return_addr(__builtin_return_address(0))));
  return report;
}

void TCrashHandler::Report(const ErrorReport& error) noexcept {
  if (reporting) {
    Defer(error);
    return;
  }
  reporting = true;
  ReportNow(error);
  // Each waiting error gets the whole procedure (dialog and log entry);
  // errors raised during those reports queue behind them.
  for (std::size_t done = 0; !deferred.empty() && done < kDeferredLimit; ++done) {
    const ErrorReport next = std::move(deferred.front());
    deferred.erase(deferred.begin());
    ReportNow(next);
  }
  deferred.clear();
  reporting = false;
}

void TCrashHandler::ReportNow(const ErrorReport& error) noexcept {
  try {
    bool handled = false;
    for (void* module : ModuleList().Modules()) {
      const std::wstring path = ModulePath(static_cast<HMODULE>(module));
      std::optional<CrashOptions> options = LoadOptions(path);
      if (!options) continue;
      for (const CodeRange& code : ModuleCodeRanges(module, options->extraModules))
        if (code.Contains(error.address)) handled = true;
      if (!handled) continue;
      Produce(error, *options, path, ActiveNamesSource, OnNotify);
      break;  // the options go with this scope: they are loaded afresh for every error
    }
    if (!handled) PlainErrorBox(error);
  } catch (...) {
    PlainErrorBox(error);
  }
}

TModuleList::TModuleList() { modules_.push_back(GetModuleHandleW(nullptr)); }

const TModuleList& ModuleList() {
  static const TModuleList list;
  return list;
}

TCrashHandler& CrashHandler() {
  static TCrashHandler handler;
  return handler;
}

void InstallCrashReporter() {
  if (installed) return;
  installed = true;
  CrashHandler();
  ModuleList();
  InstallRaiseCapture();
  StartOverflowStandBy();
  previousFilter = SetUnhandledExceptionFilter(&LastResortFilter);
  previousTerminate = std::set_terminate(&TerminateHandler);
  CheckPendingMail();
}

void RemoveCrashReporter() {
  if (!installed) return;
  CheckPendingMail();
  std::set_terminate(previousTerminate);
  SetUnhandledExceptionFilter(previousFilter);
  StopOverflowStandBy();
  RemoveRaiseCapture();
  installed = false;
}

void HandleLoopException(const std::exception& error) noexcept {
  // A guard that catches everything hands over a stand-in for an object
  // that is no exception; the object in flight tells which it was.
  bool inFlightIsException = true;
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception&) {
    } catch (...) {
      inFlightIsException = false;
    }
  }
  CrashHandler().Report(DescribeException(inFlightIsException ? &error : nullptr));
}

void HandleFatalException() noexcept {
  ErrorReport report;
  try {
    throw;
  } catch (const std::exception& error) {
    report = DescribeException(&error);
  } catch (...) {
    report = DescribeException(nullptr);
  }
  ReportFatal(report);
  ExitProcess(1);
}

}  // namespace tarnwick
