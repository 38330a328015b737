# GoogleTest from Debian's source package, built with the project's own
# compiler so that it works for both the native and the mingw build.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
  message(FATAL_ERROR "googletest sources not found: run scripts/setup-debian.sh")
endif()
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# Every test file starts with gtest.h, the heaviest header of the tree: it is
# parsed once per build into a precompiled header that every test binary
# reuses (a compiler that finds it unusable parses the header as usual).
add_library(tarnwick_gtest_pch OBJECT ${CMAKE_CURRENT_LIST_DIR}/gtest_pch.cpp)
tarnwick_warnings(tarnwick_gtest_pch)
target_link_libraries(tarnwick_gtest_pch PRIVATE GTest::gtest)
target_precompile_headers(tarnwick_gtest_pch PRIVATE <gtest/gtest.h>)

# The binaries labelled long, so that a build can make just those (the
# optimised build runs only them; every other case runs under the sanitizers).
add_custom_target(tarnwick_long_tests)

# tarnwick_add_gtest(name SOURCES ... LIBS ... [LABELS label] [TIMEOUT s] [DESKTOP])
# DESKTOP: the cases open real windows; such binaries take turns on the one
# virtual desktop (focus, foreground and topmost are shared), while the rest
# run beside them.
# Builds one test binary and registers its cases with CTest. Under the mingw
# toolchain CTest runs them through Wine (the crosscompiling emulator).
function(tarnwick_add_gtest name)
  cmake_parse_arguments(T "DESKTOP" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  tarnwick_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # The discovery script flattens list-valued properties, so a test binary
  # carries at most one label (long, peers, ...).
  list(LENGTH T_LABELS label_count)
  if(label_count GREATER 1)
    message(FATAL_ERROR "${name}: one label at most, got ${T_LABELS}")
  endif()
  target_precompile_headers(${name} REUSE_FROM tarnwick_gtest_pch)
  if("long" IN_LIST T_LABELS)
    add_dependencies(tarnwick_long_tests ${name})
  endif()
  set(properties TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    list(APPEND properties LABELS ${T_LABELS})
  endif()
  if(CMAKE_CROSSCOMPILING)
    # Under Wine every process start costs about half a second, more than
    # most cases take: a binary runs all its cases in one process, so the
    # time bound covers the whole binary. Failures still name their case.
    math(EXPR binary_timeout "${T_TIMEOUT} * 5")
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${binary_timeout})
    if(T_LABELS)
      set_tests_properties(${name} PROPERTIES LABELS ${T_LABELS})
    endif()
    if(T_DESKTOP)
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK tarnwick_desktop)
    endif()
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 DISCOVERY_MODE PRE_TEST PROPERTIES ${properties})
  endif()
endfunction()
