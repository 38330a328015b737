# Component libraries: every src/<folder> builds its *.cpp files into one
# static library. Files ending in _win.cpp are Windows-only and files ending
# in _posix.cpp are Linux-only; everything else is portable.

# tarnwick_platform_sources(<out-var> <glob>... [EXCLUDE <regex>...])
function(tarnwick_platform_sources out)
  cmake_parse_arguments(P "" "" "EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${P_UNPARSED_ARGUMENTS})
  if(TARNWICK_WINDOWS)
    list(FILTER sources EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win\\.cpp$")
  endif()
  foreach(pattern IN LISTS P_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${pattern}")
  endforeach()
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

# tarnwick_component_library(<target> [EXCLUDE <regex>...] [LIBS <lib>...])
# The folder's own sources for this platform as a static library that sees
# the whole src/ tree.
function(tarnwick_component_library target)
  cmake_parse_arguments(C "" "" "EXCLUDE;LIBS" ${ARGN})
  tarnwick_platform_sources(sources ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp EXCLUDE ${C_EXCLUDE})
  add_library(${target} STATIC ${sources})
  tarnwick_warnings(${target})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  if(C_LIBS)
    target_link_libraries(${target} PUBLIC ${C_LIBS})
  endif()
endfunction()

# The remote-name and shown-name rules are the window's, and the command line
# shares them; whichever is configured first defines the library.
function(tarnwick_transfer_names_library)
  if(NOT TARGET tarnwick_transfer_names)
    add_library(tarnwick_transfer_names STATIC ${PROJECT_SOURCE_DIR}/src/app/TransferNames.cpp)
    tarnwick_warnings(tarnwick_transfer_names)
    target_include_directories(tarnwick_transfer_names PUBLIC ${PROJECT_SOURCE_DIR}/src)
    # The wire form of the name and its error need the text codec.
    target_link_libraries(tarnwick_transfer_names PUBLIC tarnwick_base)
  endif()
endfunction()
