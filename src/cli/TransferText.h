// What both engines of tarnwick-cli share around a transfer: the work-log
// writer and the remote name as it goes on the wire. The scrubbing that
// keeps the password out of every line the program prints is in
// cliutil/PasswordScrub.h, which `backup` shares.
#pragma once

#include <ostream>
#include <string>

#include "app/TransferNames.h"
#include "base/Exception.h"
#include "cliutil/LocalFiles.h"

namespace tarnwick::cli {

// A command line that cannot run (exit status 2).
class UsageError : public Exception {
 public:
  explicit UsageError(std::string message) : Exception("EUsageError", std::move(message)) {}
};

// Work-log lines go out unless --quiet; failure lines always do.
class WorkLog {
 public:
  WorkLog(std::ostream& out, bool quiet) : out_(out), quiet_(quiet) {}
  void Line(const std::string& text) {
    if (!quiet_) Always(text);
  }
  void Always(const std::string& text) { out_ << text << '\n' << std::flush; }

 private:
  std::ostream& out_;
  bool quiet_;
};

// The request name: file name, delimiter and password joined by the
// window's rules, converted to CP932 unless raw. A part that CP932 cannot
// hold raises UsageError naming the file-name part only: the password never
// appears in the message.
std::string WireName(TransferDirection direction, const NameFields& fields, bool raw);

// LOCAL as the work log and the JSON show it: absolute, "-" for standard
// input or output; for a get, the file really written (a folder joined with
// the remote name, a symlink followed).
std::string LocalNameShown(const std::string& local);
std::string LocalNameShown(const GetTarget& target);

}  // namespace tarnwick::cli
