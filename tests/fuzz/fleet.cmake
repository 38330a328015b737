# The backup inventory: CMDB exports nobody checked, read as CSV with a
# header and typed cells; and the report cells built from what devices send.
tarnwick_add_fuzzer(fleet_inventory_fuzzer
  SOURCES InventoryFuzz.cpp
  UNITS fleet/Inventory.cpp fleet/Csv.cpp fleet/BackupReport.cpp archive/RunState.cpp archive/Pattern_posix.cpp cliutil/BoundedDecimal.cpp
        ${fuzz_text_units}
  LIBS PkgConfig::RE2)
