// The devices' rounds of a backup run: every device fetched (FetchStage),
// each complete file through the archive's validate and store steps
// (archive/Archive.h) -- flushed off the driver thread meanwhile -- and a
// DeviceReport for each. Later rounds retry the devices that failed for a
// network reason.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/ConfigStore.h"
#include "archive/SecretMask.h"
#include "fleet/BackupReport.h"
#include "fleet/FetchStage.h"
#include "fleet/IgnoreRules.h"
#include "fleet/Inventory.h"

namespace tarnwick::fleet {

// One row per device, in the inventory's order. unannounced: name -> the
// copy a run that never finished replaced ("" for none), announced now.
std::vector<DeviceReport> RunDeviceRounds(const std::vector<Device>& devices,
                                          const std::vector<IgnoreRuleList>& rules, bool wantDiff,
                                          const archive::SecretMask& mask, archive::ConfigStore& store,
                                          archive::Archive& archive, bool progress, std::ostream& err,
                                          std::map<std::string, std::string> unannounced,
                                          const FetchLimits& limits, int laterRounds);

}  // namespace tarnwick::fleet
