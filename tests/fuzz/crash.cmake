# Readers of bytes the crash reporter finds outside the program: the options
# block at the end of the executable, the line tables, the crash log.
tarnwick_add_fuzzer(crash_input_fuzzer
  SOURCES CrashInputFuzz.cpp
  UNITS crash/ByteReader.cpp crash/CrashOptions.cpp crash/LineTable.cpp crash/StackTable.cpp crash/CrashLog.cpp)
