// `tarnwick-cli backup`: every device of an inventory fetched into a folder
// of configurations, many transfers at once on one thread.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tarnwick::fleet {

// args: the command line after "backup". The summary, warnings and errors
// go to err; --help to out. Returns 0 when every device was saved, 1 when
// any failed or was not reached, 2 for usage and inventory errors. The
// socket layer must already be started.
int RunBackup(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tarnwick::fleet
