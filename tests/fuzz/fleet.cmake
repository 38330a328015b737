# The backup inventory: CMDB exports nobody checked, read as CSV with a
# header and typed cells; and the report cells built from what devices send.
tarnwick_add_fuzzer(fleet_inventory_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/InventoryFuzz.cpp
          ${PROJECT_SOURCE_DIR}/src/fleet/Inventory.cpp
          ${PROJECT_SOURCE_DIR}/src/fleet/Csv.cpp
          ${PROJECT_SOURCE_DIR}/src/fleet/BackupReport.cpp
          ${PROJECT_SOURCE_DIR}/src/app/TransferNames.cpp
          ${PROJECT_SOURCE_DIR}/src/base/Exception.cpp
          ${PROJECT_SOURCE_DIR}/src/base/TextCodec.cpp
          ${PROJECT_SOURCE_DIR}/src/base/TextCodec_posix.cpp)
