// The text of one crash report: the header with where and when the error
// happened, and the console and web-page forms of the whole report.
#pragma once

#include <cstdint>
#include <string>

#include "crash/CrashOptions.h"

namespace tarnwick {

struct ReportFields {
  std::string computerName;
  std::string date;  // system short date format
  std::string time;  // system long time format
  std::string activeForm = "----";
  std::string activeControl = "----";
  std::string exceptionType;
  std::string exceptionMessage;
  std::string versionNumber = "----";
};

// Control bytes would break the report's lines (and the log's entries
// apart): they are shown as spaces.
std::string ReportMessage(const std::string& message);

// "major.minor", then ".release.build" when build is not 0, or ".release"
// when only release is not 0.
std::string FormatVersionNumber(unsigned major, unsigned minor, unsigned release, unsigned build);

// Computer name, date and time on the first line (when any is switched on),
// then one "Label<pad>: value" line per switched-on field, labels padded to
// the longest of the five.
std::string BuildReportHeader(const CrashOptions& options, const ReportFields& fields);

// The line a shown report carries when its entry could not be written to
// the usual place and went to the user's own folder instead, aligned
// with the header's fields: "Log File         : <path>" and CR LF.
std::string LogPlaceLine(const CrashOptions& options, const std::string& logPath);

// The report as a console program prints it, and as a complete web response.
std::string ConsoleReport(const CrashOptions& options, const std::string& exeName, const std::string& report);
std::string WebReport(const CrashOptions& options, const std::string& exeName, const std::string& report);

}  // namespace tarnwick
