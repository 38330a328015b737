// `tarnwick-cli backup --check`: everything a run needs except the
// devices' answers -- the inventory read, every host resolved, DEST locked
// and git opened -- and a list of what would be fetched. No device is
// asked for anything and no configuration is written (a DEST or repository
// that does not exist yet is reported as such, not made).
#pragma once

#include <ostream>
#include <vector>

#include "fleet/BackupOptions.h"
#include "fleet/Inventory.h"

namespace tarnwick::fleet {

// What would be fetched goes to out, problems to err. 0 when the run could
// go ahead, 1 when a device cannot be fetched (a faulty row, a name that
// does not resolve), 3 when DEST or its repository cannot be used.
int RunBackupCheck(const BackupOptions& o, const std::vector<Device>& devices, std::ostream& out,
                   std::ostream& err);

}  // namespace tarnwick::fleet
