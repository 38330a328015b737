// `tarnwick-cli backup`: every device of an inventory fetched into a folder
// of configurations, many transfers at once on one thread.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tarnwick::fleet {

// args: the command line after "backup". The summary, warnings and errors
// go to err; --help, --check's list and --diff's diffs to out. Returns 0
// when every device was saved, 1 when any failed, was not reached or is
// stale, 2 for usage and inventory errors, 3 when the folder, the archive
// or the report failed. The socket layer must already be started.
//
// For tests only: TARNWICK_TEST_NOW (UTC seconds since 1970) stands in for
// the clock of the run -- its start, the state file's times and the stale
// rule -- so a test can move a DEST two days on without waiting.
int RunBackup(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tarnwick::fleet
