# Readers of bytes the crash reporter finds outside the program: the options
# block at the end of the executable, the line tables, the crash log.
tarnwick_add_fuzzer(crash_input_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/CrashInputFuzz.cpp
          ${PROJECT_SOURCE_DIR}/src/crash/ByteReader.cpp
          ${PROJECT_SOURCE_DIR}/src/crash/CrashOptions.cpp
          ${PROJECT_SOURCE_DIR}/src/crash/LineTable.cpp
          ${PROJECT_SOURCE_DIR}/src/crash/StackTable.cpp
          ${PROJECT_SOURCE_DIR}/src/crash/CrashLog.cpp)
