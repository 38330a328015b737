// The crash reporter: catches every error that nothing else handles, writes
// a report with the call stack resolved to source files and lines into the
// log beside the executable, and shows it. Its texts and settings come from
// the options block appended to the executable.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace tarnwick {

// What a report says about one error.
struct ErrorReport {
  bool isException = true;  // false for something thrown that is no exception object
  std::string className;
  std::string message;  // UTF-8
  std::uint32_t address = 0;
  std::vector<std::uint32_t> stack;  // captured when raised; empty: capture while reporting
};

// Names of the active form and of the focused control ("----" for none).
struct ActiveNames {
  std::string form = "----";
  std::string control = "----";
};

// The modules whose errors the reporter handles, each reading its options
// from its own file. This program has one: itself.
class TModuleList {
 public:
  TModuleList();
  const std::vector<void*>& Modules() const noexcept { return modules_; }

 private:
  std::vector<void*> modules_;  // module handles
};

class TCrashHandler {
 public:
  // Supplies the names of the active form and control for the report.
  std::function<ActiveNames()> ActiveNamesSource;
  // Optional: sees each error first and may clear `allowOutput`.
  std::function<void(const ErrorReport& error, bool& allowOutput)> OnNotify;

  // The report procedure. Never throws. An error reported while another
  // report is open is reported when that one is done.
  void Report(const ErrorReport& error) noexcept;

 private:
  void ReportNow(const ErrorReport& error) noexcept;
};

// Describes an exception object: class name, message, raise point.
ErrorReport DescribeException(const std::exception* error);

// Start-up and shut-down of the reporter: the handler of last resort, the
// raise capture and the pending-mail check. The application's message-loop
// handler is connected by the caller (see HandleLoopException).
void InstallCrashReporter();
void RemoveCrashReporter();
TCrashHandler& CrashHandler();
const TModuleList& ModuleList();

// Installs the reporter for the life of the scope: made first thing in the
// program entry, removed (with its second pending-mail check) when the entry
// returns.
class CrashReporterScope {
 public:
  CrashReporterScope() { InstallCrashReporter(); }
  ~CrashReporterScope() { RemoveCrashReporter(); }
  CrashReporterScope(const CrashReporterScope&) = delete;
  CrashReporterScope& operator=(const CrashReporterScope&) = delete;
};

// For an error that reached the message loop: report it, the program goes on.
// Called from a catch block whose exception is no std::exception (and
// `error` a stand-in for it), the report is that of a non-exception.
void HandleLoopException(const std::exception& error) noexcept;
// For the current exception in a catch block outside the message loop:
// report it and end the process with exit code 1.
[[noreturn]] void HandleFatalException() noexcept;

}  // namespace tarnwick
