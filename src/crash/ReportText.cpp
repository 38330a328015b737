#include "crash/ReportText.h"

#include <algorithm>

namespace tarnwick {

std::string ReportMessage(const std::string& message) {
  std::string m = message;
  for (char& c : m)
    if (static_cast<unsigned char>(c) < 31) c = ' ';
  return m;
}

std::string FormatVersionNumber(unsigned major, unsigned minor, unsigned release, unsigned build) {
  std::string v = std::to_string(major) + "." + std::to_string(minor);
  if (build != 0)
    v += "." + std::to_string(release) + "." + std::to_string(build);
  else if (release != 0)
    v += "." + std::to_string(release);
  return v;
}

namespace {
std::string FieldLine(const CrashOptions& o, std::string label, const std::string& value) {
  std::size_t width = 0;
  for (std::size_t i = kTextActiveForm; i <= kTextVersionNumber; ++i)
    width = std::max(width, o.Text(static_cast<CrashText>(i)).size());
  if (label.size() < width) label.append(width - label.size(), ' ');
  return label + ": " + value + "\r\n";
}
}  // namespace

std::string BuildReportHeader(const CrashOptions& o, const ReportFields& f) {
  std::string header;
  if (o.showComputerName) header += f.computerName + " ";
  if (o.showDate) header += f.date + " ";
  if (o.showTime) header += f.time;
  if (!header.empty()) header += "\r\n";

  const auto field = [&](bool on, CrashText label, const std::string& value) {
    if (on) header += FieldLine(o, o.Text(label), value);
  };
  field(o.showActiveForm, kTextActiveForm, f.activeForm);
  field(o.showActiveControl, kTextActiveControl, f.activeControl);
  field(o.showExceptionType, kTextExceptionType, f.exceptionType);
  field(o.showExceptionMessage, kTextExceptionMessage, f.exceptionMessage);
  field(o.showVersionNumber, kTextVersionNumber, f.versionNumber);
  return header;
}

std::string LogPlaceLine(const CrashOptions& o, const std::string& logPath) {
  return FieldLine(o, "Log File", logPath);
}

std::string ConsoleReport(const CrashOptions& o, const std::string& exeName, const std::string& report) {
  return o.Text(kTextDialogCaption) + " (" + exeName + ")\r\n\r\n" + o.Text(kTextExplanation) + "\r\n\r\n" +
         o.Text(kTextReportLabel) + "\r\n" + report + "\r\n";
}

namespace {
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}
}  // namespace

std::string WebReport(const CrashOptions& o, const std::string& exeName, const std::string& report) {
  std::string body = ReplaceAll(ReplaceAll(report, "\r\n", "<br>"), " ", "&nbsp;");
  const char* lines[] = {"HTTP/1.0 200 OK", "CONTENT-TYPE: TEXT/HTML", "", "<html>", "<head>"};
  std::string page;
  for (const char* line : lines) page += std::string(line) + "\r\n";
  page += "<title>" + o.Text(kTextDialogCaption) + " (" + exeName + ")</title>\r\n";
  page += "<meta http-equiv=\"Content-Type\" content=\"text/html\">\r\n</head>\r\n<body>\r\n";
  page += "<p><small><font face=\"Courier New\">\r\n";
  page += o.Text(kTextExplanation) + "<br><br>" + o.Text(kTextReportLabel) + "<br>" + body + "\r\n";
  page += "</font></small></p>\r\n</body>\r\n</html>\r\n";
  return page;
}

}  // namespace tarnwick
